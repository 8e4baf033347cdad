#!/bin/sh
# Installs the Debian 12 packages that building, running and testing Kopiensieb need.
# Packages that are already present are skipped; run as root (or through sudo).
set -eu

PACKAGES="build-essential cmake ninja-build ccache pkg-config python3
qt6-base-dev libgl-dev nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev
xvfb xauth x11-apps x11-utils imagemagick time jdupes fdupes rdfind clang-format
qt6-translations-l10n qt6-qpa-plugins dpkg-dev desktop-file-utils appstream openbox
mingw-w64 wine wine64 nsis p7zip-full"

missing=""
for package in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $package"
  fi
done

if [ -z "$missing" ]; then
  echo "install-deps: everything is installed"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "install-deps: installing$missing"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
