#!/usr/bin/env bash
# The host console's command line, under Wine: its usage, and what a person
# gets for a wrong option, value or job. Each row: the exit status wanted, a
# text wanted in what the console prints (standard output and error), and
# the console's arguments.
#   console_tests.sh CONSOLE PREFIX
set -uo pipefail
console=$1 prefix=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wine_run=$here/../../tools/wine-run
help_hint='quill-console --help lists the options and jobs'
failures=0

expect() {
  local status=$1 text=$2
  shift 2
  local output actual
  output=$("$wine_run" --prefix "$prefix" "$console" "$@" 2>&1)
  actual=$?
  if [ "$actual" = "$status" ] && grep -qF -- "$text" <<<"$output"; then
    echo "ok    quill-console $*"
    return
  fi
  echo "FAIL  quill-console $*"
  echo "      wanted status $status and the text: $text"
  echo "      got status $actual and:"
  sed 's/^/        /' <<<"$output"
  failures=$((failures + 1))
}

# --help prints the usage: every option with its value, every job with its arguments.
expect 0 'Usage: quill-console [OPTIONS] [JOB [ARGS...]]...' --help
usage=$("$wine_run" --prefix "$prefix" "$console" --help 2>&1)
for line in '--module PATH' '--port N' '--speed N' '--irda 0|1' '--fast' '--progress' '--trace FILE' '--help' \
            'call NAME [ARGS...]' 'get NAME' 'set NAME VALUE' 'pull-document N FILE' \
            'load-database N FILE' 'find' 'Exit status:'; do
  grep -qF -- "$line" <<<"$usage" || { echo "FAIL  the usage does not show: $line"; failures=$((failures + 1)); }
done

# A wrong option or value stops the console before it loads the module.
expect 2 "--port takes a number from 0 to 15, not \"40\"; $help_hint" --port 40 call Attach
expect 2 "--speed takes a number from 0 to 6, not \"fast\"; $help_hint" --speed fast list
expect 2 "--irda takes a number from 0 to 1, not \"2\"" --irda 2
expect 2 "--port needs a value (N); $help_hint" list --port
expect 2 "unknown option \"--prot\"; $help_hint" --prot 2 list
expect 2 'cannot load' --module 'C:\nowhere\Quillomat.dll' list
expect 2 "--trace needs a value (FILE); $help_hint" list --trace

# An unknown job is named after the jobs before it ran.
expect 1 "unknown job \"frobnicate\"; $help_hint" list frobnicate
# --fast is a switch: a word after it is a job.
expect 1 "unknown job \"1\"" list --fast 1
# A Russian name typed on the command line reaches the component whole.
expect 0 'Ping / ПроверитьНаличие() -> 0' call ПроверитьНаличие
# No terminal anywhere: the search says so and the job fails; the trace
# goes where --trace says.
trace_file=$(mktemp -d)/console-trace.log
expect 1 'Not found: no terminal answered on COM1 to COM16' --trace "Z:$trace_file" find
grep -qF 'search: nothing answered' "$trace_file" ||
  { echo "FAIL  the trace of the search is not in $trace_file"; failures=$((failures + 1)); }
rm -rf "$(dirname "$trace_file")"
# Good options in any place, and the module's table.
expect 0 'Extension "Quillomat"' list --port 15 --speed 6 --irda 0 --fast --progress

exit $((failures > 0))
