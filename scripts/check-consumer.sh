#!/usr/bin/env bash
# Another project using Pelmora: installs the build in build/ into a scratch
# prefix, builds examples/consumer against it (find_package) and against the
# source tree (add_subdirectory, without tests, benchmarks or -Werror), and
# runs the program's whole request on the sample.
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
fail() { echo "check-consumer: $1:" >&2; echo "$out" >&2; exit 1; }
# Each program does the whole request on a database of its own: open, edit,
# save, commit, validate, and the findings the example gets for the main.
for build in installed subdir; do
  mkdir "$scratch/run-$build" && cp "$scratch/s.db" "$scratch/run-$build/s.db"
  out=$(cd "$scratch" && env -u PELMORA_SOURCE_DIR PELMORA_CONFIGURATION_MAP="$scratch/cache/ConfigurationMap.txt" \
        "$scratch/$build/consumer_request" "$scratch/run-$build/s.db" 2>&1) || fail "$build program failed"
  echo "$out" | sed "s/^/check-consumer: $build: /"
  [[ "$out" =~ has\ [1-9][0-9]*\ components ]] || fail "$build program did not open the main"
  grep -qE '^  Error: The Material value .*MAIN_MATERIALS\. \[101/1001\]$' <<<"$out" ||
    fail "$build program lacks the finding of its edit"
  grep -qE '^  Error: MainAudit: Water Main 1001 and Service Line 4001 ' <<<"$out" ||
    fail "$build program lacks the finding of the sample's geometry interface"
  ! grep -qE '^\[|cannot be (loaded|created)' <<<"$out" || fail "$build program met a message box or an extension it could not load"
  [[ $(sqlite3 "$scratch/run-$build/s.db" "SELECT MATERIAL FROM WATER_MAIN_N WHERE QTX_FID = 1001") == HDPE ]] ||
    fail "$build program's edit is not in its database"
done
