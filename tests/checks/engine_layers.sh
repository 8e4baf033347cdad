#!/bin/sh
# The engine (src/catalogue, src/selection, src/common) runs without the windows: none of its
# files may include the shell, the result windows or a backend. Usage: engine_layers.sh SOURCE_ROOT
set -eu
root="$1"
pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](shell|results|platform/(posix|win32|qt|headless))/'
for folder in catalogue selection common; do
  if [ ! -d "$root/src/$folder" ]; then
    echo "engine_layers: $root/src/$folder is missing" >&2
    exit 1
  fi
done
found=$(grep -rnE "$pattern" "$root/src/catalogue" "$root/src/selection" "$root/src/common" || true)
if [ -n "$found" ]; then
  echo "engine_layers: the engine includes the shell, the result windows or a backend:" >&2
  echo "$found" >&2
  exit 1
fi
echo "engine_layers: src/catalogue, src/selection and src/common include no shell, results or backend"
