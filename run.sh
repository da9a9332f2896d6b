#!/usr/bin/env bash
# Builds Gridquest and starts it. Until the window and its sample workbooks land, this runs the
# command-line search for "ea" over the paths given, or over the workbooks of tests/data.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target gridquest-find
if [ $# -eq 0 ]; then
  set -- tests/data
fi
exec build/cli/gridquest-find --stats ea "$@"
