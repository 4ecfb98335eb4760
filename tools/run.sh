#!/usr/bin/env bash
# Installs, builds and starts the editor on a fresh copy of the sample drive,
# so the repository itself is never written to.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRANE_BENCH=OFF
cmake --build build --target veltrane-editor
prefix="$(mktemp -d -t veltrane-prefix.XXXXXX)"
cp -r demo/drive_c "$prefix/drive_c"
rm -f "$prefix/drive_c/windows/temp/.gitkeep"
echo "Sample drive C: is $prefix/drive_c"
WINEPREFIX="$prefix" exec ./build/veltrane-editor
