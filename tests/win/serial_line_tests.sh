#!/usr/bin/env bash
# Runs the serial line tests against the pty peer: the peer's pseudo-terminal
# is linked as COM10 in the Wine prefix, COM6 is kept unlinked, and the peer
# (which holds the slave side open) is stopped only after the test program
# has ended. When the modem-line shim is built, it is preloaded into Wine so
# that waits for a received character really wait, and the tests expect
# time-outs; without it they accept waits that end at once.
#   serial_line_tests.sh PEER TEST_PROGRAM NATIVE_BUILD [GTEST_ARGS...]
# NATIVE_BUILD is the native build that holds the shim.
set -uo pipefail
peer=$1
program=$2
export QUILL_NATIVE=$3
shift 3
: "${WINEPREFIX:?serial_line_tests.sh: run it under tools/with-wine}"
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../tools/terminal-ports"
shim=$QUILL_SHIM
wine_run=$here/../../tools/wine-run
devices=$WINEPREFIX/dosdevices
peer_port=$devices/com10
missing_port=$devices/com6

work=$(mktemp -d)
peer_pid=
finish() {
  rm -f "$peer_port"
  if [ -n "$peer_pid" ]; then
    kill "$peer_pid" 2>/dev/null
    wait "$peer_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap finish EXIT

"$peer" >"$work/peer.out" 2>"$work/peer.log" &
peer_pid=$!
slave=
for _ in $(seq 100); do
  slave=$(head -n 1 "$work/peer.out" 2>/dev/null)
  [ -n "$slave" ] && break
  sleep 0.05
done
if [ -z "$slave" ]; then
  echo "serial_line_tests.sh: the pty peer did not start" >&2
  exit 1
fi

# The first Wine program of a session starts the device manager, which links
# the COM names to the machine's serial devices again, over ours: start it
# before linking.
"$wine_run" "$program" --gtest_list_tests >/dev/null 2>&1
mkdir -p "$devices"
ln -sfn "$slave" "$peer_port"
rm -f "$missing_port"

preload=()
if [ -f "${shim//\$LIB/lib/i386-linux-gnu}" ]; then
  preload=(env "LD_PRELOAD=$shim" QUILL_WAITS_BLOCK=1)
else
  echo "serial_line_tests.sh: no modem-line shim at $shim; waits end at once" >&2
fi
"${preload[@]}" "$wine_run" "$program" "$@"
status=$?
if [ $status -ne 0 ]; then
  echo "--- pty peer log" >&2
  cat "$work/peer.log" >&2
fi
exit $status
