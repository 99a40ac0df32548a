#!/usr/bin/env bash
# What a new user meets running the example: usage, refused arguments and
# folders, a second run into one folder, the locale, the temporary folder.
#   check_typical_request.sh EXAMPLE SCRATCH-DIR
set -u
example=$1
scratch=$2
rm -rf "$scratch" && mkdir -p "$scratch"
failures=0
# expect CODE PATTERN ARGS...: the exit code, and a line of the output matching PATTERN.
expect() {
  local code=$1 pattern=$2
  shift 2
  local out
  out=$("$example" "$@" 2>&1)
  local rc=$?
  if [[ $rc -ne $code ]] || ! grep -qE -- "$pattern" <<<"$out"; then
    echo "FAILED: typical_request $* gave $rc (wanted $code and /$pattern/):"
    echo "$out" | head -20
    failures=$((failures + 1))
  fi
}
expect 0 '^usage: typical_request \[--help\] \[WORK-FOLDER\]' --help
expect 2 'unknown option --bogus' --bogus
expect 2 'one work folder at most' "$scratch/a" "$scratch/b"
expect 1 'empty name' ""
touch "$scratch/file"
expect 1 "cannot use the work folder $scratch/file/sub" "$scratch/file/sub"
expect 0 "The files are kept in $scratch/run" "$scratch/run"
expect 1 'holds sample.db of an earlier run' "$scratch/run"
# A failure before anything is written names the variable to mend and
# claims no files.
out=$(PELMORA_SAMPLE_SQL_DIR=$scratch/no-sql "$example" "$scratch/nosql" 2>&1)
if ! grep -q "from PELMORA_SAMPLE_SQL_DIR=$scratch/no-sql" <<<"$out" || grep -q 'The files are kept' <<<"$out"; then
  echo "FAILED: a run without its SQL folder:"; echo "$out"
  failures=$((failures + 1))
fi
PELMORA_LOCALE=DEU PELMORA_CONFIGURATION_MAP=/elsewhere/map.txt \
  expect 0 'PELMORA_CONFIGURATION_MAP=/elsewhere/map.txt is replaced' "$scratch/deu"
[[ -f "$scratch/deu/cache/DEU/QTX_METADATAKEYS_OPTABLE.RAW" ]] || { echo "FAILED: no DEU cache"; failures=$((failures + 1)); }
out=$(TMPDIR=$scratch "$example" 2>&1)
# The request ends with the validation of the edited main and the new valve:
# the edit's finding and the new valve's missing owner.
if ! grep -q '^Validating the edited main and the new valve' <<<"$out" ||
   ! grep -qE '^ +Error +The Material value .* MAIN_MATERIALS\. +101 1001 +11 +1$' <<<"$out" ||
   ! grep -qE '^ +Error +The owner reference of the feature is missing\. +Device Owned By Main +102 6000 ' <<<"$out"; then
  echo "FAILED: the output does not end with the findings of the validation request:"; tail -20 <<<"$out"
  failures=$((failures + 1))
fi
# Read without the code: every finding explained once, as the example's own
# note, and no class names of the system's inside.
if [[ $(grep -c '^      note: valve 5602' <<<"$out") -ne 1 ]] || grep -qE 'DYv|planted' <<<"$out"; then
  echo "FAILED: the notes of the findings:"; grep -E 'note:|DYv|planted' <<<"$out"
  failures=$((failures + 1))
fi
if grep -qE '^\[|cannot be (loaded|created)' <<<"$out"; then
  echo "FAILED: a message box or an extension object that did not load:"; grep -E '^\[|cannot be (loaded|created)' <<<"$out"
  failures=$((failures + 1))
fi
if grep -q 'interface FAILED' <<<"$out"; then echo "FAILED: an interface failed:"; grep 'interface FAILED' <<<"$out"; failures=$((failures + 1)); fi
if ! grep -q '^Removed the temporary folder' <<<"$out" || compgen -G "$scratch/pelmora-example-*" >/dev/null; then
  echo "FAILED: the temporary folder is not reported removed or is left"; failures=$((failures + 1))
fi
rm -rf "$scratch"
exit $((failures > 0))
