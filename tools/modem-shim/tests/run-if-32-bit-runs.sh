#!/usr/bin/env bash
# Runs a 32-bit test program, or reports the test skipped (status 77) when
# this machine cannot run 32-bit programs at all.
#   run-if-32-bit-runs.sh PROGRAM [ARGS...]
output=$("$@" 2>&1)
status=$?
if [ $status -eq 126 ] && grep -q "Exec format error" <<<"$output"; then
  echo "skipped: this machine cannot run 32-bit programs ($1: Exec format error)"
  exit 77
fi
printf '%s\n' "$output"
exit $status
