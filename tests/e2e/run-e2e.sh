#!/usr/bin/env bash
# The module against simulated terminals, under Wine: one simulator per
# scenario (scenarios/comNN-*.scn runs on COM NN; COM 6 stays missing), the
# Windows test program run once with the modem-line shim preloaded, then the
# simulators stopped.
#   run-e2e.sh TEST_PROGRAM NATIVE_BUILD PREFIX WORKDIR [GTEST ARGS...]
set -uo pipefail
program=$1 native=$2 prefix=$3 work=$4
shift 4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export QUILL_NATIVE=$native
source "$here/../../tools/terminal-ports"

rm -rf "$work"
mkdir -p "$work"
"$here/../../tools/wine-prefix" "$prefix" || exit 1
trap stop_terminals EXIT
for scenario in "$here"/scenarios/com*.scn; do
  name=$(basename "$scenario")
  com=$((10#${name:3:2}))
  start_terminal "$prefix" "$com" "$scenario" "$work" || exit 1
done
rm -f "$prefix/dosdevices/com6"

QUILL_E2E_WORK=$work wine_with_terminals --prefix "$prefix" "$program" "$@"
