#!/usr/bin/env bash
# The module against simulated terminals, under Wine: one simulator per
# scenario (SCENARIOS/comNN-*.scn runs on COM NN; COM 6 stays missing), the
# Windows test program run once with the modem-line shim preloaded, then the
# simulators stopped (which writes their dumps). With --check, COMMAND then
# reads what the simulators left in WORKDIR (it is given WORKDIR), and the
# run fails when either the program or the check fails.
#   run-e2e.sh [--check COMMAND] SCENARIOS TEST_PROGRAM NATIVE_BUILD PREFIX WORKDIR [PROGRAM ARGS...]
set -uo pipefail
check=
if [ "${1:-}" = --check ]; then
  check=$2
  shift 2
fi
scenarios=$1 program=$2 native=$3 prefix=$4 work=$5
shift 5
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export QUILL_NATIVE=$native
source "$here/../../tools/terminal-ports"

rm -rf "$work"
mkdir -p "$work"
"$here/../../tools/wine-prefix" "$prefix" || exit 1
trap stop_terminals EXIT
for scenario in "$scenarios"/com*.scn; do
  name=$(basename "$scenario")
  com=$((10#${name:3:2}))
  start_terminal "$prefix" "$com" "$scenario" "$work" || exit 1
done
rm -f "$prefix/dosdevices/com6"
serve_dump_requests "$work"

QUILL_E2E_WORK=$work wine_with_terminals --prefix "$prefix" "$program" "$@"
status=$?
stop_terminals
if [ -n "$check" ]; then
  $check "$work" || status=1
fi
exit $status
