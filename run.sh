#!/usr/bin/env bash
# Builds Gridquest and starts its window. "Load Sample/Example Files" fills the list with the
# bundled sample workbooks and puts "ea" into the search box; "Start Searching" then searches them.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target gridquest gridquest-sheet gridquest-find samples
exec build/app/gridquest
