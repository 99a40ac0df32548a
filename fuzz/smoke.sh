#!/usr/bin/env bash
# Builds the libFuzzer programs (clang) in build-fuzz/ (or FUZZ_BUILD) and runs each over its
# corpus and then fuzzes it for FUZZ_SECONDS (default 10). Without clang and
# its libFuzzer this says so and succeeds: the ordinary build's tests still
# replay every corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
cxx=${FUZZ_CXX:-clang++}
cc=${FUZZ_CC:-clang}
seconds=${FUZZ_SECONDS:-10}
build=${FUZZ_BUILD:-build-fuzz}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

if ! command -v "$cxx" >/dev/null 2>&1 || ! command -v "$cc" >/dev/null 2>&1; then
  echo "fuzz: $cxx not found, libFuzzer run skipped (the tests replay the corpora)"
  exit 0
fi
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' >"$scratch/probe.cpp"
if ! "$cxx" -fsanitize=fuzzer,address "$scratch/probe.cpp" -o "$scratch/probe" >/dev/null 2>&1; then
  echo "fuzz: $cxx cannot link libFuzzer, libFuzzer run skipped (the tests replay the corpora)"
  exit 0
fi

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
CC=$cc CXX=$cxx cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELMORA_FUZZ=ON \
  -DPELMORA_BUILD_TESTS=OFF -DPELMORA_BUILD_BENCHMARKS=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" --target fuzzers -j "$(nproc)"

# target, corpus, options; the three run side by side.
run() {
  local target=$1 corpus=$2
  shift 2
  mkdir -p "$scratch/$corpus" "$scratch/art-$corpus"
  cp fuzz/corpus/"$corpus"/* "$scratch/$corpus/"
  if ! "$build"/fuzz/"$target" "$@" -max_total_time="$seconds" -timeout=10 \
      -artifact_prefix="$scratch/art-$corpus/" "$scratch/$corpus" >"$scratch/$target.log" 2>&1; then
    tail -n 60 "$scratch/$target.log"
    for f in "$scratch/art-$corpus"/*; do
      [ -e "$f" ] && { echo "input $(basename "$f") (base64):"; base64 "$f" | head -c 4000; echo; }
    done
    echo "fuzz: $target failed"
    return 1
  fi
  echo "fuzz: $target over fuzz/corpus/$corpus, then ${seconds}s: $(grep -E '^Done' "$scratch/$target.log" | tail -n 1)"
}
run filter_criteria_fuzz filter -dict=fuzz/filter.dict -max_len=512 & filter=$!
run persisted_image_fuzz image -max_len=1024 & image=$!
run dialect_fuzz dialect -dict=fuzz/dialect.dict -max_len=512 & dialect=$!
status=0
for pid in $filter $image $dialect; do
  wait "$pid" || status=1
done
exit $status
