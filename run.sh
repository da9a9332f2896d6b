#!/usr/bin/env bash
# Builds Gridquest and starts it. Until the window lands, this runs the command-line search for
# "ea" over the paths given, or over the bundled sample workbooks.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target gridquest-find samples
if [ $# -eq 0 ]; then
  set -- build/app/Samples
fi
exec build/cli/gridquest-find --stats ea "$@"
