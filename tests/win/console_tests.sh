#!/usr/bin/env bash
# The host console's command line, under Wine: its usage, what a person gets
# for a wrong option, value or job (checked before anything runs), the exit
# status of a call that fails, and the settings a run keeps for the next.
# Each row: the exit status wanted, a text wanted in what the console prints
# (standard output and error), and the console's arguments. No terminal is
# attached: COM6 is missing in the test prefix.
#   console_tests.sh CONSOLE PREFIX
set -uo pipefail
console=$1 prefix=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wine_run=$here/../../tools/wine-run
help_hint='quill-console --help lists the options and jobs'
source "$here/expect.sh"

# Files a job would write go to a folder of their own (the console's working folder).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

expect() {
  local status=$1 text=$2
  shift 2
  expect_output "quill-console $*" "$status" "$text" "$wine_run" --prefix "$prefix" "$console" "$@"
}

# The last run's output does not show TEXT, for the reason WHY.
absent() {
  local text=$1 why=$2
  grep -qF -- "$text" <<<"$output" || return 0
  echo "FAIL  $why: the output shows $text"
  failures=$((failures + 1))
}

# A wrong command line runs nothing: the module is not loaded.
expect_refused() {
  expect 2 "$@"
  absent 'Component' 'a wrong command line loads no module'
}

# --help prints the usage: every option with its value, every job with its
# arguments, the kept settings, what a failed job does.
expect 0 'Usage: quill-console [OPTIONS] [JOB [ARGS...]]...' --help
usage=$output
for line in '--module PATH' '--port N' '--speed N' '--irda 0|1' '--fast 0|1' '--forget-settings' '--progress' \
            '--trace FILE' '--help' 'call NAME [ARGS...]' 'get NAME' 'set NAME VALUE' 'pull-document N FILE' \
            'load-database N FILE' 'bench COUNT' 'find' '--ports N,N...' 'ports' 'default: the kept setting, else 0' \
            'Kept settings:' \
            'after a failed one are not run.' 'Exit status:'; do
  grep -qF -- "$line" <<<"$usage" || { echo "FAIL  the usage does not show: $line"; failures=$((failures + 1)); }
done

# A wrong option or value stops the console before it loads the module.
# Ports go by their COM numbers, 1 to 256: an old line's index 0 for COM1 is refused.
expect_refused "--port takes a COM number from 1 to 256, not \"257\"; $help_hint" --port 257 call Attach
expect_refused '--port takes a COM number from 1 to 256, not "0"' --port 0 call Attach
expect_refused '--ports takes COM numbers from 1 to 256 separated by commas, not "3,,23"' --ports 3,,23 find
expect_refused '--ports takes COM numbers from 1 to 256 separated by commas, not "3,257"' --ports 3,257 find
expect_refused '--ports takes COM numbers from 1 to 256 separated by commas, not "0,3"' --ports 0,3 find
expect_refused '--ports narrows the search of find, and no find job is given' --ports 3 list
expect_refused "--speed takes a number from 0 to 6, not \"fast\"; $help_hint" --speed fast list
expect_refused "--irda takes a number from 0 to 1, not \"2\"" --irda 2
expect_refused "--port needs a value (N); $help_hint" list --port
expect_refused "--fast needs a value (0|1); $help_hint" list --fast
expect_refused '--fast takes a number from 0 to 1, not "on"' --fast on list
expect_refused "unknown option \"--prot\"; $help_hint" --prot 2 list
expect 2 'cannot load' --module 'C:\nowhere\Quillomat.dll' list
expect_refused "--trace needs a value (FILE); $help_hint" list --trace
expect_refused '--trace takes a non-empty value' --trace '' list

# So does a wrong job anywhere on the line, before the jobs ahead of it run.
expect_refused "unknown job \"frobnicate\"; $help_hint" list frobnicate
expect_refused "call Pong: the component has no such method; $help_hint" call Attach call Pong
expect_refused "call GetData needs 1 argument; $help_hint" call Attach call GetData
expect_refused "call ShowProgress needs 2 arguments" call ShowProgress 1
expect_refused 'call needs NAME [ARGS...]' list call
expect_refused 'get Datum: the component has no such property' get Datum
expect_refused 'set needs NAME VALUE' set Field1
expect_refused 'pull-document N takes a number from 0 to 9, not "abc"' call Attach pull-document abc x.csv
[ ! -e "$work/x.csv" ] || { echo "FAIL  a wrong pull-document left x.csv behind"; failures=$((failures + 1)); }
expect_refused 'pull-database N takes a number from 1 to 3, not "0"' pull-database 0 y.csv
expect_refused 'bench COUNT takes a number from 1 to 100000, not "x"' bench x
# find takes nothing: a word after it is a job of its own.
expect_refused 'unknown job "COM3"' find COM3

# A call that leaves a Result other than 0 fails the run; the jobs after it do not run.
expect 1 'Result 2 "Невозможно открыть COM порт!"' --port 6 call Attach call Ping
absent 'Ping' 'the job after a failed one does not run'
grep -qF '"call Attach" failed; the job after it was not run' <<<"$output" ||
  { echo "FAIL  no word that the job after the failed one was not run"; failures=$((failures + 1)); }
# A Russian name typed on the command line reaches the component whole; the
# port is not open, so the call fails.
expect 1 'Ping / ПроверитьНаличие() -> 0' call ПроверитьНаличие
expect 1 'Result 1 "COM порт не инициализирован!"' call Ping
# A property write the component refuses fails the run.
expect 1 'ResultDescription / ОписаниеРезультата := "x"   (refused)' set ResultDescription x
# No terminal anywhere: the search says so and the job fails, and the job
# after it is not run; the trace goes where --trace says.
trace_file=$(mktemp -d)/console-trace.log
expect 1 'Not found: no terminal answered on COM1 to COM16' --trace "Z:$trace_file" find list
absent 'Extension' 'the job after a search that found nothing does not run'
grep -qF 'search: nothing answered' "$trace_file" ||
  { echo "FAIL  the trace of the search is not in $trace_file"; failures=$((failures + 1)); }
rm -rf "$(dirname "$trace_file")"
# Good options in any place, and the module's table.
expect 0 'Extension "Quillomat"' list --port 15 --speed 6 --irda 0 --fast 1 --progress
# The ports Windows reports present, each with its --port (a new prefix has
# the COM1 Wine found, where the machine has one; a line says when none is).
expect 0 'Settings: ' ports
grep -qE 'COM1   \(--port 1\)|No serial port is reported present' <<<"$output" ||
  { echo "FAIL  ports listed neither COM1 nor that none is present"; failures=$((failures + 1)); }
# The highest port opens as such (this prefix has none: code 2, not COM1).
expect 1 'Settings: COM256, 115200 baud, cable, standard pace' --forget-settings --port 256 call Attach
grep -qF 'Result 2 "Невозможно открыть COM порт!"' <<<"$output" ||
  { echo "FAIL  COM256 did not fail to open"; failures=$((failures + 1)); }

# Kept settings: each run keeps what it ended with, and the next starts from
# it; the command line wins; a wrong line keeps nothing; --forget-settings
# starts from the defaults instead.
expect 0 'Settings: COM1, 115200 baud, cable, standard pace' --forget-settings list
expect 0 'Settings: COM15, 9600 baud, cable, fast exchange' --port 15 --speed 4 --fast 1 list
expect_refused 'unknown job "frobnicate"' --port 3 --fast 0 frobnicate
expect 0 'Settings: COM15, 9600 baud, cable, fast exchange' list
expect 0 'Settings: COM15, 9600 baud, cable, standard pace' --fast 0 list
expect 0 'Settings: COM15, 9600 baud, cable, standard pace' list
expect 0 'Settings: COM3, 115200 baud, cable, standard pace' --forget-settings --port 3 list
expect 0 'Settings: COM3, 115200 baud, cable, standard pace' list
expect 0 'Settings: COM1, 115200 baud, cable, standard pace' --forget-settings list

exit $((failures > 0))
