#!/usr/bin/env bash
# Another project using Pelmora: installs the build in build/ into a scratch
# prefix, builds examples/consumer against it (find_package) and against the
# source tree (add_subdirectory, without tests, benchmarks or -Werror), and
# runs the program on the sample.
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install build --prefix "$scratch/prefix" >/dev/null
cmake -S examples/consumer -B "$scratch/installed" -G Ninja -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null
cmake --build "$scratch/installed" >/dev/null
cmake -S examples/consumer -B "$scratch/subdir" -G Ninja -DPELMORA_TREE="$PWD" >/dev/null
if cmake --build "$scratch/subdir" --target help | grep -qE '^(tests_|.*_bench)'; then
  echo "check-consumer: add_subdirectory brought in tests or benchmarks" >&2
  exit 1
fi
cmake --build "$scratch/subdir" -j "$(nproc)" >/dev/null
# The installed cache builder, away from the source tree: the sample's SQL is built in.
(cd "$scratch" && env -u PELMORA_SOURCE_DIR prefix/bin/build_metadata_cache --sample --database s.db --cache cache >/dev/null)
for program in "$scratch/installed/consumer_request" "$scratch/subdir/consumer_request"; do
  out=$(cd "$scratch" && env -u PELMORA_SOURCE_DIR PELMORA_CONFIGURATION_MAP="$scratch/cache/ConfigurationMap.txt" \
        "$program" "$scratch/s.db")
  echo "check-consumer: $out"
  [[ "$out" =~ has\ [1-9][0-9]*\ components ]] || { echo "check-consumer: unexpected output" >&2; exit 1; }
done
