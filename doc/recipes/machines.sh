#!/usr/bin/env bash
# Repairs every recording of a folder on several machines with GNU parallel: each recording goes
# to a machine (--transferfile), is repaired there into NAME.000.ts with the report NAME.json,
# which come back beside it (--return), and the copies on the machine are removed (--cleanup).
# Each login is one of parallel's --sshlogin: ":" for this machine, "8/user@host" for eight jobs
# on a host with corvane on its PATH. A folder that every machine shares needs no transfer: give
# --shared after the folder, and the names are used as they are.
#
#   machines.sh FOLDER [--shared] LOGIN...
#
# Prints a line for each recording that was refused. Status 0 when every recording was repaired
# or refused, else the number of recordings that failed (as parallel counts them).
set -u
if [ $# -lt 2 ]; then
  echo "usage: $0 FOLDER [--shared] LOGIN..." >&2
  exit 2
fi
cd "$1" || exit 2
shift
transfer=(--transferfile {} --return {.}.000.ts --return {.}.json --cleanup)
if [ "$1" = --shared ]; then
  transfer=()
  shift
fi
logins=()
for login in "$@"; do logins+=(--sshlogin "$login"); done

find . -maxdepth 1 -type f -name '*.ts' ! -name '*.000.ts' -printf '%P\0' |
  parallel --will-cite -0 "${logins[@]}" "${transfer[@]}" \
    'corvane -status posix -report {.}.json {} {.}.000.ts </dev/null >/dev/null 2>&1
     status=$?
     [ $status -eq 3 ] && echo "refused: {}" && exit 0
     exit $status'
