#!/usr/bin/env bash
# The recipes of doc/recipes, each run with bash on generated recordings: the files it leaves and
# the status it returns. corvane is found on PATH, as the recipes expect it.
#
#   recipes_test.sh CORVANE MAKE_SAMPLE [EMULATOR...]
set -u
tool=$(realpath "$1")
make_sample=$(realpath "$2")
shift 2
emulator=("$@")
recipes=$(cd "$(dirname "$0")/../doc/recipes" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

mkdir bin
{
  echo '#!/bin/sh'
  echo "exec ${emulator[*]} \"$tool\" \"\$@\""
} >bin/corvane
chmod +x bin/corvane
export PATH="$work/bin:$PATH"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
expect_status() {  # expected, actual, what
  [ "$2" -eq "$1" ] || fail "$3: status $2, not $1"
}
expect_same() {
  cmp -s "$1" "$2" || fail "$1 differs from $2"
}
expect_outcome() {  # report, outcome
  python3 -c 'import json, sys; sys.exit(json.load(open(sys.argv[1]))["outcome"] != sys.argv[2])' \
    "$1" "$2" || fail "$1: not $2"
}

# A recording and its repair from a named file, a multiplex of two services and its repair, and a
# recording that is refused (it does not begin where its video can be entered).
"${emulator[@]}" "$make_sample" rec.ts >/dev/null
corvane rec.ts one.ts </dev/null >/dev/null 2>&1
"${emulator[@]}" "$make_sample" multiplex.ts --services 2 >/dev/null
corvane -services all multiplex.ts all.ts </dev/null >/dev/null 2>&1
head -c 100000 rec.ts | tail -c 50000 >refused.ts
cp rec.ts keep.ts

# The tuner's stream through a pipe into a file, with its report.
bash "$recipes/tuner-to-file.sh" tuner.ts cat rec.ts 2>/dev/null
expect_status 0 $? tuner-to-file.sh
expect_same tuner.ts one.ts
expect_outcome tuner.json complete

# The hook repairs in place, leaves a refused recording untouched and alerts on a failure, which
# here is a disk that fills up (writes past the limit fail, with the signal ignored).
mkdir hook
cp rec.ts hook/good.ts
cp refused.ts hook/refused.ts
cp rec.ts hook/full.ts
bash "$recipes/post-recording-hook.sh" hook/good.ts 2>/dev/null
expect_status 0 $? "hook, complete"
expect_same hook/good.ts one.ts
expect_outcome hook/good.json complete
bash "$recipes/post-recording-hook.sh" hook/refused.ts 2>/dev/null
expect_status 0 $? "hook, refused"
expect_same hook/refused.ts refused.ts
expect_outcome hook/refused.json refused
printf '#!/bin/sh\necho "$1" >"%s/alerted"\n' "$work" >bin/alert
chmod +x bin/alert
(
  trap '' XFSZ
  ulimit -f 2048
  CORVANE_ALERT=alert bash "$recipes/post-recording-hook.sh" hook/full.ts 2>/dev/null
)
expect_status 1 $? "hook, disk full"
expect_same hook/full.ts rec.ts
grep -q "hook/full.ts was not repaired (status 1)" alerted || fail "hook, disk full: no alert"
[ "$(ls hook)" = "$(printf '%s\n' full.json full.ts good.json good.ts refused.json refused.ts)" ] ||
  fail "hook: left $(ls hook | tr '\n' ' ')"

# The filter keeps every packet of the multiplex, from pipe to pipe, as the repair of a named
# file gives them; a refused stream gives nothing and status 3.
cat multiplex.ts | bash "$recipes/stream-filter.sh" 2>/dev/null | cat >filtered.ts
statuses="${PIPESTATUS[*]}"
[ "$statuses" = "0 0 0" ] || fail "stream-filter.sh: statuses $statuses"
expect_same filtered.ts all.ts
head -c 2000 rec.ts | tail -c 1000 | bash "$recipes/stream-filter.sh" 2>/dev/null >nothing.ts
expect_status 3 "${PIPESTATUS[2]}" "stream-filter.sh, refused"
[ ! -s nothing.ts ] || fail "stream-filter.sh, refused: wrote something"

# A folder in two jobs: the recordings repaired beside themselves, the refused one listed.
mkdir batch
cp rec.ts batch/a.ts
cp rec.ts batch/b.ts
cp refused.ts batch/c.ts
listed=$(bash "$recipes/batch.sh" batch 2)
expect_status 0 $? batch.sh
[ "$listed" = "refused: batch/c.ts" ] || fail "batch.sh listed: $listed"
expect_same batch/a.000.ts one.ts
expect_same batch/b.000.ts one.ts
[ ! -e batch/c.000.ts ] || fail "batch.sh: the refused recording has a destination"
for name in a b; do expect_outcome "batch/$name.json" complete; done
expect_outcome batch/c.json refused
expect_same keep.ts rec.ts

# Several machines with GNU parallel, here the local login ":": each recording repaired beside
# itself, with its report, and the refused one listed; once more on a shared folder.
if command -v parallel >/dev/null; then
  mkdir machines
  cp rec.ts machines/a.ts
  cp refused.ts machines/c.ts
  for shared in "" --shared; do
    rm -f machines/*.000.ts machines/*.json
    listed=$(bash "$recipes/machines.sh" machines $shared : 2>/dev/null)
    expect_status 0 $? "machines.sh $shared"
    [ "$listed" = "refused: c.ts" ] || fail "machines.sh $shared listed: $listed"
    expect_same machines/a.000.ts one.ts
    expect_outcome machines/a.json complete
    expect_outcome machines/c.json refused
  done
else
  fail "GNU parallel is missing"
fi

# EPGStation's encode job, as it runs one: its own environment, no output name, every line of
# standard output parsed as JSON, then a cancel (SIGINT) part-way through a longer recording.
mkdir epg
cp rec.ts epg/rec.ts
epgstation() {  # recording, lines
  env -i PATH="$PATH" INPUT="$work/epg/$1" OUTPUT= sh "$recipes/epgstation-repair.sh" >"epg/$2" \
    2>/dev/null
}
json_lines() {  # lines, outcome
  python3 -c 'import json, sys
lines = [json.loads(line) for line in open(sys.argv[1])]
assert all(l["type"] == "progress" and 0 <= l["percent"] <= 1 for l in lines)
assert lines[-1]["outcome"] == sys.argv[2]' "$1" "$2" || fail "epgstation: $1 is not $2"
}
epgstation rec.ts lines
expect_status 0 $? epgstation
expect_same epg/rec.ts one.ts
json_lines epg/lines complete
"${emulator[@]}" "$make_sample" epg/long.ts --seconds 108 --packets-per-frame 330 >/dev/null
cp epg/long.ts long.ts
set -m  # a job of its own, which takes SIGINT as EPGStation's child does
env -i PATH="$PATH" INPUT="$work/epg/long.ts" OUTPUT= sh "$recipes/epgstation-repair.sh" \
  >epg/cancelled 2>/dev/null &
job=$!
set +m
while [ ! -s epg/cancelled ]; do sleep 0.001; done
kill -INT "$job"
wait "$job"
expect_status 143 $? "epgstation, cancelled"
expect_same epg/long.ts long.ts
json_lines epg/cancelled stopped
[ "$(ls epg)" = "$(printf '%s\n' cancelled lines long.json long.ts rec.json rec.ts)" ] ||
  fail "epgstation: left $(ls epg | tr '\n' ' ')"

if [ "$failures" -ne 0 ]; then
  echo "$failures recipe checks failed"
  exit 1
fi
echo "every recipe left what it should"
