#!/usr/bin/env bash
# Records from a tuner straight into a repaired file: the tuner command writes the stream to its
# standard output, corvane reads it on standard input and writes OUTPUT.ts, with its report
# beside it as OUTPUT.json.
#
#   tuner-to-file.sh OUTPUT.ts TUNER-COMMAND [ARGUMENTS...]
#
# The status is corvane's (0 complete, 1 a file error, 3 refused, see the README), or the
# tuner's when corvane completed but the tuner failed.
set -u
if [ $# -lt 2 ]; then
  echo "usage: $0 OUTPUT.ts TUNER-COMMAND [ARGUMENTS...]" >&2
  exit 2
fi
output=$1
shift
# The progress lines go to standard error with the messages, which the recording server logs.
"$@" | corvane -status posix -report "${output%.ts}.json" - "$output" >&2
statuses=("${PIPESTATUS[@]}")
tuner=${statuses[0]}
tool=${statuses[1]}
if [ "$tool" -ne 0 ]; then
  exit "$tool"
fi
exit "$tuner"
