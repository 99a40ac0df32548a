#!/usr/bin/env bash
# Kills sample and cache builds at random moments and counts what they leave:
# after each kill, the private building folders and files standing (each
# build removes the dead ones first, so they never pile up); at the end, what
# is left after one more build of each (must be none).
#   scripts/kill-builds.sh [ROUNDS] [BUILD_DIR]   (defaults 60, build)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-60}
tool=${2:-build}/tools/build_metadata_cache
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$tool" --sample --database "$scratch/full.db" --cache "$scratch/timing" >/dev/null
start=$(date +%s%N)
"$tool" --sample --database "$scratch/timed.db" --cache "$scratch/timing" >/dev/null
full_ms=$(( ($(date +%s%N) - start) / 1000000 ))

leftover_counts() { find "$scratch/work" -maxdepth 2 \( -name '.*.building.*' -o -name '*.tmp[0-9]*' \) | wc -l; }
killed=0 most=0
mkdir -p "$scratch/work/cache"
for ((i = 0; i < rounds; ++i)); do
  rm -f "$scratch/work/s.db"
  if ((i % 2)); then
    "$tool" --sample --database "$scratch/work/s.db" --cache "$scratch/work/cache" >/dev/null 2>&1 &
  else
    "$tool" --database "$scratch/full.db" --cache "$scratch/work/cache" >/dev/null 2>&1 &
  fi
  pid=$!
  sleep "$(awk -v ms=$((RANDOM % (full_ms + 1))) 'BEGIN { printf "%.3f", ms / 1000 }')"
  if kill -KILL "$pid" 2>/dev/null; then killed=$((killed + 1)); fi
  wait "$pid" 2>/dev/null || true
  standing=$(leftover_counts)
  if ((standing > most)); then most=$standing; fi
done
rm -f "$scratch/work/s.db"
"$tool" --sample --database "$scratch/work/s.db" --cache "$scratch/work/cache" >/dev/null
remaining=$(leftover_counts)
echo "kill-builds: $rounds rounds (a full build takes ${full_ms} ms), $killed killed;" \
     "most leftovers standing after a kill: $most; after one more build: $remaining"
[[ $remaining -eq 0 ]]
