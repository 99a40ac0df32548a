#!/usr/bin/env bash
# Builds the system and runs the typical request on the sample network.
#   scripts/run-example.sh [--help] [WORK-FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# The build's own lines go to a log, shown only when it fails.
log=build/run-example-build.log
mkdir -p build
echo "Building the example (about 4 minutes the first time; log: $log)" >&2
if ! { cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build build -j "$(nproc)" --target typical_request; } >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
exec build/examples/typical_request "$@"
