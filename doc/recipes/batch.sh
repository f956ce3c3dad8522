#!/usr/bin/env bash
# Repairs every recording of a folder, JOBS at a time (by default as many as there are
# processors): each NAME.ts gives NAME.000.ts and the report NAME.json beside it. Files named
# *.000.ts, which earlier runs made, are left out.
#
#   batch.sh FOLDER [JOBS]
#
# Prints a line for each recording that was refused or failed. Status 0 when every recording was
# repaired or refused, 1 when one failed.
set -u
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 FOLDER [JOBS]" >&2
  exit 2
fi
folder=$1
jobs=${2:-$(nproc)}

find "$folder" -maxdepth 1 -type f -name '*.ts' ! -name '*.000.ts' -print0 |
  xargs -0 -r -n 1 -P "$jobs" sh -c '
    corvane -status posix -report "${1%.ts}.json" "$1" </dev/null >/dev/null 2>&1
    status=$?
    case $status in
      0) ;;
      3) echo "refused: $1" ;;
      *) echo "failed ($status): $1" >&2; exit 1 ;;
    esac' sh
# xargs ends with 123 when a job failed.
[ $? -eq 0 ] || exit 1
