#!/usr/bin/env bash
# A listing of a document that names a file (its fence opened as ```LANG PATH)
# is that file, byte for byte; a document with no such listing fails too.
#   check_listings.sh DOCUMENT REPOSITORY
set -u
doc=$1
root=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Listing n goes to $scratch/n and its path to line n of $scratch/paths.
awk -v out="$scratch" '
  /^```/ {
    if (inside) { inside = 0; if (file != "") close(file); file = ""; next }
    inside = 1
    if (split(substr($0, 4), words, " ") == 2) {
      n++; print words[2] > (out "/paths"); file = out "/" n; printf "" > file
    }
    next
  }
  inside && file != "" { print > file }
' "$doc" || exit 1
[[ -s "$scratch/paths" ]] || { echo "FAILED: $doc has no listing that names a file"; exit 1; }
failures=0
n=0
while read -r path; do
  n=$((n + 1))
  if ! diff -u --label "$path" --label "$doc, listing $n" "$root/$path" "$scratch/$n"; then
    echo "FAILED: listing $n of $doc is not $path"
    failures=$((failures + 1))
  fi
done <"$scratch/paths"
exit $((failures > 0))
