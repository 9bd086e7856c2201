# The shell tests' check of a command: its exit status and a text in what it
# prints. Sourced; failures are counted in $failures, and the last command's
# output stays in $output.
#   expect_output LABEL STATUS TEXT COMMAND...
failures=0
output=

expect_output() {
  local label=$1 status=$2 text=$3 actual
  shift 3
  output=$("$@" 2>&1)
  actual=$?
  if [ "$actual" = "$status" ] && grep -qF -- "$text" <<<"$output"; then
    echo "ok    $label"
    return
  fi
  echo "FAIL  $label"
  echo "      wanted status $status and the text: $text"
  echo "      got status $actual and:"
  sed 's/^/        /' <<<"$output"
  failures=$((failures + 1))
}
