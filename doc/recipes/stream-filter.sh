#!/usr/bin/env bash
# A filter inside a pipeline: the recording comes on standard input and leaves repaired on
# standard output, packet for packet and in the same order, with every service of the stream on
# its own clock (-services all). Console texts go to standard error.
#
#   TUNER-COMMAND | stream-filter.sh | CONSUMER
#
# Run the pipeline with `set -o pipefail`, or read PIPESTATUS: a stream corvane refuses (one
# without a program table in its first 2.3 MB) gives no output and status 3, and a consumer that
# saw nothing must not take that for an empty recording.
exec corvane -status posix -services all "$@" - -
