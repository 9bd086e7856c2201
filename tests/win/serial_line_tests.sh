#!/usr/bin/env bash
# Runs the serial line tests against pty peers: the main peer's
# pseudo-terminal is linked as COM10, two more (which the tests unplug) as
# COM11 and COM12, COM6 is kept unlinked, and the peers (which hold their slave
# sides open) are stopped only after the test program has ended. The
# modem-line shim of the native build is preloaded into Wine so that waits
# for a received character really wait (without it Wine ends every wait on a
# pty at once, as failed).
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
missing_port=$devices/com6

work=$(mktemp -d)
peer_pids=()
peer_links=()
finish() {
  rm -f "${peer_links[@]}"
  local pid
  for pid in "${peer_pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${peer_pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap finish EXIT

# start_peer NAME: starts a peer; its slave's path in $slave.
start_peer() {
  "$peer" >"$work/$1.out" 2>"$work/$1.log" &
  peer_pids+=($!)
  slave=
  for _ in $(seq 100); do
    slave=$(head -n 1 "$work/$1.out" 2>/dev/null)
    [ -n "$slave" ] && return 0
    sleep 0.05
  done
  echo "serial_line_tests.sh: the pty peer $1 did not start" >&2
  exit 1
}

start_peer main
main_slave=$slave
start_peer unplugged
unplugged_slave=$slave
start_peer unplugged-while-reading
unplugged_while_reading_slave=$slave

# The first Wine program of a session starts the device manager, which links
# the COM names to the machine's serial devices again, over ours: start it
# before linking.
"$wine_run" "$program" --gtest_list_tests >/dev/null 2>&1
mkdir -p "$devices"
peer_links=("$devices/com10" "$devices/com11" "$devices/com12")
ln -sfn "$main_slave" "$devices/com10"
ln -sfn "$unplugged_slave" "$devices/com11"
ln -sfn "$unplugged_while_reading_slave" "$devices/com12"
rm -f "$missing_port"

shim_dir=lib/i386-linux-gnu
[ "${QUILL_WINE_ARCH:-win32}" = win64 ] && shim_dir=lib/x86_64-linux-gnu
if [ ! -f "${shim//\$LIB/$shim_dir}" ]; then
  echo "serial_line_tests.sh: no modem-line shim at $shim (build the native half first)" >&2
  exit 1
fi
wine_with_terminals "$program" "$@"
status=$?
if [ $status -ne 0 ]; then
  for name in main unplugged unplugged-while-reading; do
    echo "--- pty peer log: $name" >&2
    cat "$work/$name.log" >&2
  done
fi
exit $status
