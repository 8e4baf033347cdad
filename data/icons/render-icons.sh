#!/bin/sh
# Renders the program's icon from de.kopiensieb.Kopiensieb.svg into the PNG sizes of the
# hicolor theme and into the window icon built into the program. The PNGs are committed, so
# building needs no SVG renderer; run this after changing the SVG (needs librsvg2-bin).
set -eu
cd "$(dirname "$0")"
svg=de.kopiensieb.Kopiensieb.svg
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" "$svg" -o "hicolor/${size}x${size}/apps/de.kopiensieb.Kopiensieb.png"
done
rsvg-convert -w 32 -h 32 "$svg" -o ../../src/platform/qt/kopiensieb_icon.png
