#!/bin/sh
# EPGStation: an encode entry that repairs the recording in place and makes no new file. In
# config.yml, without `suffix`, so that EPGStation hands over no output name:
#
#   encode:
#       - name: repair
#         cmd: '/bin/sh %ROOT%/config/epgstation-repair.sh'
#         rate: 4.0
#
# EPGStation gives the recording in INPUT and reads every line of standard output as JSON: corvane
# writes its progress there ({"type":"progress","percent":0..1,"log":...}) and all else to
# standard error. The repair goes to FILE.repairing.ts and takes the recording's name only once
# it is complete; a recording corvane refuses is kept as it is, with status 0. Cancelling the job
# (SIGINT) stops corvane and leaves the recording as it was. The report is kept as FILE.json.
set -u
source=$INPUT
repaired=${source%.ts}.repairing.ts

# corvane runs in the background, where the shell keeps SIGINT from it; a cancel is passed on.
corvane -status posix -progress json -report "${source%.ts}.json" "$source" "$repaired" \
  </dev/null &
tool=$!
trap 'kill -TERM "$tool" 2>/dev/null' INT TERM
status=129
while [ "$status" -gt 128 ] && kill -0 "$tool" 2>/dev/null; do
  wait "$tool"
  status=$?
done
case $status in
  0) mv -f -- "$repaired" "$source" ;;
  3)
    rm -f -- "$repaired"
    status=0
    ;;
  *) rm -f -- "$repaired" ;;
esac
exit "$status"
