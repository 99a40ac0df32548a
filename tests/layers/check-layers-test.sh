#!/usr/bin/env bash
# scripts/check-layers.sh passes on the tree and fails on a copy with
# includes planted up the ladders and a source planted off them, naming each
# planted line and nothing else.
set -euo pipefail
root="$1"
check="$root/scripts/check-layers.sh"

"$check" "$root" || { echo "FAIL: the tree itself does not pass"; exit 1; }

copy="$(mktemp -d)"
trap 'rm -rf "$copy"' EXIT
cp -r "$root/src" "$copy/src"
# file|include appended to it; a file in a folder of its own is new
planted='
src/pelmora/common/ScopeExit.h|#include "pelmora/validation/FeatureValidationService.h"
src/runtime/Variant.h|#include "product/StandIns.h"
src/pelmora/metadata/MetadataService.h|#include <pelmora/validation/FeatureValidationService.h>
src/pelmora/findings/RunFeatures.h|#include "../validation/FeatureValidationService.h"
src/pelmora/persistence/SavedComponent.h|#include "pelmora/unladdered/Stray.h"
src/pelmora/unladdered/Stray.h|#include "pelmora/common/ScopeExit.h"
'
expected=()
while IFS='|' read -r file include; do
    [ -n "$file" ] || continue
    if [ -d "$(dirname "$copy/$file")" ]; then
        echo "$include" >>"$copy/$file"
        expected+=("$file:$(wc -l <"$copy/$file"): $include")
    else
        mkdir "$(dirname "$copy/$file")"
        echo "$include" >"$copy/$file"
        expected+=("$file: ")               # a source off the ladder: the file itself
    fi
done <<<"$planted"

if out="$("$check" "$copy" 2>&1)"; then
    echo "FAIL: planted includes passed"; exit 1
fi
status=0
for line in "${expected[@]}"; do
    grep -qF "$line" <<<"$out" || { echo "FAIL: not named: $line"; status=1; }
done
[ "$(grep -c '^src/' <<<"$out")" -eq "${#expected[@]}" ] || { echo "FAIL: other lines than the planted named:"; status=1; }
echo "$out"
exit $status
