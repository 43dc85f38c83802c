# Sourced by the release tools' tests: a count of failed checks, and the check
# that each of a tool's refusals ends as it must without running anything.
# shellcheck shell=bash

failures=0
failed() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# expect_refusals NAME PROGRAM CASE...: each CASE is
# "STATUS|MESSAGE|WORD|WORD...". PROGRAM run with the words must end with
# STATUS and say MESSAGE; then the caller's nothing_ran checks that it ran
# nothing.
expect_refusals() {
  local name=$1 program=$2 refusal expected_status message status output
  local -a fields words
  shift 2
  for refusal in "$@"; do
    IFS='|' read -r -a fields <<<"$refusal"
    expected_status=${fields[0]}
    message=${fields[1]}
    words=("${fields[@]:2}")
    status=0
    output=$("$program" "${words[@]}" 2>&1) || status=$?
    if [ "$status" != "$expected_status" ] || [[ $output != *"$message"* ]]; then
      failed "$name ${words[*]}: status $status and
$output
expected status $expected_status and a message with: $message"
    fi
    nothing_ran "$name ${words[*]}"
  done
}

# Ends the test: status 1 after the count of failed checks, or the summary.
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures failed" >&2
    exit 1
  fi
  echo "$1"
}
