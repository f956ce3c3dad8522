#!/usr/bin/env bash
# The EDCB recipe under Wine, run as EDCB runs it: cmd /c with the recording's path in FilePath.
# It must leave the repair in the recording's place, keep a refused recording, and end with 0.
#
#   edcb_recipe_test.sh CORVANE.EXE MAKE_SAMPLE.EXE
set -u
corvane=$(realpath "$1")
make_sample=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$corvane" "$(dirname "$0")/../doc/recipes/edcb-post-recording.bat" "$work/"
cd "$work" || exit 1
export WINEDEBUG=-all
wine "$make_sample" rec.ts >/dev/null
wine Corvane.exe rec.ts one.ts </dev/null >/dev/null 2>&1
head -c 100000 rec.ts | tail -c 50000 >refused.ts
cp refused.ts kept.ts
failures=0
for name in rec refused; do
  FilePath=$(winepath -w "$work/$name.ts") wine cmd /c edcb-post-recording.bat </dev/null
  status=$?
  [ "$status" -eq 0 ] || { echo "FAIL: $name: status $status"; failures=$((failures + 1)); }
done
cmp -s rec.ts one.ts || { echo "FAIL: rec.ts is not its repair"; failures=$((failures + 1)); }
cmp -s refused.ts kept.ts || { echo "FAIL: refused.ts changed"; failures=$((failures + 1)); }
grep -q '"outcome": "complete"' rec.json || { echo "FAIL: rec.json"; failures=$((failures + 1)); }
grep -q '"outcome": "refused"' refused.json || { echo "FAIL: refused.json"; failures=$((failures + 1)); }
[ -z "$(ls ./*.repairing.ts 2>/dev/null)" ] || { echo "FAIL: a partial repair is left"; failures=$((failures + 1)); }
[ "$failures" -eq 0 ] && echo "the EDCB batch repairs in place"
exit $((failures > 0))
