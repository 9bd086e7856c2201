#!/usr/bin/env bash
# Runs a 32-bit test program under qemu-user with the qemu fixes, or reports
# the test skipped (status 77) where the emulation cannot be set up here.
#   run-emulated.sh PROGRAM [ARGS...]
run=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/run
if ! why=$("$run" --check 2>&1); then
  echo "skipped: $why"
  exit 77
fi
exec "$run" "$@"
