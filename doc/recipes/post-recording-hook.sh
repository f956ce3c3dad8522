#!/usr/bin/env bash
# A recording server's hook after each recording: repairs FILE.ts in place. The repair goes to
# FILE.repairing.ts, which takes the source's name only once corvane says it is complete, so
# that the recording is never lost half repaired. The report is kept as FILE.json.
#
#   post-recording-hook.sh FILE.ts
#
# Status 0 also when corvane refused the recording (it is kept untouched); anything else is
# alerted, through the command in CORVANE_ALERT when it is set (given the message as its
# argument), and ends the hook with corvane's status.
set -u
if [ $# -ne 1 ]; then
  echo "usage: $0 FILE.ts" >&2
  exit 2
fi
source=$1
repaired=${source%.ts}.repairing.ts
report=${source%.ts}.json

corvane -status posix -report "$report" "$source" "$repaired" </dev/null >/dev/null
status=$?
case $status in
  0)
    mv -f -- "$repaired" "$source"
    ;;
  3)
    # Refused as unsuitable: the recording stays as it was. The reason is in the report.
    rm -f -- "$repaired"
    ;;
  *)
    rm -f -- "$repaired"
    message="corvane: $source was not repaired (status $status); the recording is kept, see $report"
    echo "$message" >&2
    if [ -n "${CORVANE_ALERT:-}" ]; then
      "$CORVANE_ALERT" "$message"
    fi
    exit "$status"
    ;;
esac
