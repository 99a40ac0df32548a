#!/usr/bin/env bash
# scripts/check-layers.sh passes on the tree and fails, naming file and line,
# on a copy with one include planted up the folders' ladder and one up the
# libraries'.
set -euo pipefail
root="$1"
check="$root/scripts/check-layers.sh"

"$check" "$root" || { echo "FAIL: the tree itself does not pass"; exit 1; }

copy="$(mktemp -d)"
trap 'rm -rf "$copy"' EXIT
cp -r "$root/src" "$copy/src"
folder_file=src/pelmora/common/ScopeExit.h
library_file=src/runtime/Variant.h
echo '#include "pelmora/validation/FeatureValidationService.h"' >>"$copy/$folder_file"
echo '#include "product/StandIns.h"' >>"$copy/$library_file"

if out="$("$check" "$copy" 2>&1)"; then
    echo "FAIL: planted includes passed"; exit 1
fi
status=0
for planted in "$folder_file:$(wc -l <"$copy/$folder_file"):" "$library_file:$(wc -l <"$copy/$library_file"):"; do
    grep -qF "$planted" <<<"$out" || { echo "FAIL: $planted not named"; status=1; }
done
[ "$(grep -c '^src/' <<<"$out")" -eq 2 ] || { echo "FAIL: more than the planted lines named:"; status=1; }
echo "$out"
exit $status
