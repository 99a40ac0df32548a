#!/usr/bin/env bash
# Builds the system and runs the typical request on the sample network.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target typical_request
build/examples/typical_request "$@"
