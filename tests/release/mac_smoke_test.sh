#!/usr/bin/env bash
# tools/mac-smoke: what --dry-run says it would run, with and without
# --install, and that it runs none of it; what it refuses; how each step's
# output is judged; and whole runs on a pretend Mac whose commands answer with
# recorded outputs: the report, and the stop at the first failure.
#   mac_smoke_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# shellcheck source=tests/release/checks.sh
. "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

# A source tree as the macos build leaves it: the script, the application with
# its payload and an installer that leaves a mark when it runs, and the
# signing requirement beside the application.
the_requirement='=anchor apple generic and certificate leaf[subject.OU] = "K7QZ2RM4TD"'
make_app() {
  mkdir -p "$1/Contents/MacOS" "$1/Contents/Resources/Orlana2ch.driver"
  printf '#!/bin/sh\ntouch %q\n' "$scratch/installer-ran" >"$1/Contents/MacOS/CorvelDriverInstaller"
  chmod +x "$1/Contents/MacOS/CorvelDriverInstaller"
}
mkdir -p "$scratch/tools"
cp "$source_dir/tools/mac-smoke" "$source_dir/tools/print-command.sh" "$scratch/tools/"
smoke=$scratch/tools/mac-smoke
build=$scratch/build-macos
the_app=$build/CorvelDriverInstaller.app
the_installer=$the_app/Contents/MacOS/CorvelDriverInstaller
make_app "$the_app"
printf '%s\n' "$the_requirement" >"$build/signature-requirement.txt"

read_only_commands="/usr/bin/sw_vers
/usr/bin/uname -m
/usr/bin/codesign --verify --deep --strict --verbose=2 --test-requirement '$the_requirement' $the_app/Contents/Resources/Orlana2ch.driver
/usr/sbin/spctl --assess --type execute --verbose $the_app
/usr/bin/codesign --display --verbose=2 $the_app
$the_installer --validate-only
$the_installer --check-installed
/bin/ls -l /bin/sh
/bin/ls -l /private/var/select/sh
/bin/sh --version
/usr/bin/env CORVEL_SMOKE_MARKER=passed-by-the-caller /usr/bin/osascript -e 'do shell script \"/usr/bin/env\" with administrator privileges'
/usr/bin/osascript -e 'do shell script \"/usr/bin/true\" with administrator privileges'"
install_commands="$the_installer --print-install-script | /usr/bin/sudo /bin/sh
$the_installer --check-installed
$the_installer --print-uninstall-script | /usr/bin/sudo /bin/sh
$the_installer --check-installed
/usr/bin/open -W $the_app
$the_installer --check-installed"

# A report left by an earlier run: a dry run or a refusal must leave it as it
# is, and the installer must not have run.
the_report=$build/CorvelDriverInstaller-smoke-report.txt
echo "an earlier report" >"$the_report"
nothing_ran() {
  if [ -e "$scratch/installer-ran" ] || [ "$(<"$the_report")" != "an earlier report" ]; then
    failed "$1: something ran"
  fi
  rm -f "$scratch/installer-ran"
}

# The dry run, with the application given or by default, in any order, with
# and without --install.
dry_runs=(
  "read-only|--dry-run"
  "read-only|$the_app/|--report|$scratch/r.txt|--dry-run"
  "install|--install|--dry-run"
  "install|--dry-run|--requirement|$build/signature-requirement.txt|$the_app|--install"
)
for dry_run in "${dry_runs[@]}"; do
  IFS='|' read -r -a words <<<"$dry_run"
  expected=$read_only_commands
  [ "${words[0]}" = read-only ] || expected+=$'\n'$install_commands
  words=("${words[@]:1}")
  if ! output=$("$smoke" "${words[@]}" 2>&1); then
    failed "dry run ${words[*]}: failed: $output"
  elif [ "$output" != "$expected" ]; then
    failed "dry run ${words[*]}: printed
$output
instead of
$expected"
  fi
  nothing_ran "dry run ${words[*]}"
  [ ! -e "$scratch/r.txt" ] || failed "dry run ${words[*]}: wrote a report"
done

# Every printed line reads back, in a shell, as the words it stands for, even
# for paths with a blank and a quote in them; a root script's line reads back
# as the installer's command piped into sudo's shell.
odd_app="$scratch/Tessaro's builds/Corvel Installer.app"
make_app "$odd_app"
printf '%s\n' "$the_requirement" >"$scratch/the requirement.txt"
if ! output=$("$smoke" --dry-run --install --requirement "$scratch/the requirement.txt" "$odd_app" 2>&1); then
  failed "dry run with odd paths: failed: $output"
else
  mapfile -t lines <<<"$output"
  pipe=' | /usr/bin/sudo /bin/sh'
  # shellcheck disable=SC2154 # verify, validate, osascript_words and install_words are set by the eval
  if ! eval "verify=(${lines[2]}); validate=(${lines[5]}); osascript_words=(${lines[10]}); install_words=(${lines[12]%"$pipe"})" ||
    [ "${verify[6]}" != "$the_requirement" ] ||
    [ "${verify[7]}" != "$odd_app/Contents/Resources/Orlana2ch.driver" ] ||
    [ "${validate[*]}" != "$odd_app/Contents/MacOS/CorvelDriverInstaller --validate-only" ] ||
    [ "${#validate[@]}" != 2 ] ||
    [ "${osascript_words[4]}" != 'do shell script "/usr/bin/env" with administrator privileges' ] ||
    [ "${install_words[0]}" != "$odd_app/Contents/MacOS/CorvelDriverInstaller" ] ||
    [ "${lines[12]}" = "${lines[12]%"$pipe"}" ]; then
    failed "dry run with odd paths: the lines do not read back as the words:
$output"
  fi
fi

# What it refuses: arguments, an application it cannot check, a requirement
# it cannot use, and a real run anywhere but on a Mac. None of them runs
# anything.
mkdir -p "$scratch/no-installer.app/Contents/Resources/Orlana2ch.driver" "$scratch/lone" "$scratch/bad"
make_app "$scratch/no-payload.app" && rm -r "$scratch/no-payload.app/Contents/Resources/Orlana2ch.driver"
make_app "$scratch/lone/Corvel.app"
make_app "$scratch/bad/Corvel.app"
echo 'anchor apple generic' >"$scratch/bad/signature-requirement.txt"
: >"$scratch/empty-requirement.txt"
refusals=(
  "2|usage: tools/mac-smoke|--dry-run|--deep"
  "2|usage: tools/mac-smoke|--dry-run|--report"
  "2|usage: tools/mac-smoke|--dry-run|--report||$the_app"
  "2|usage: tools/mac-smoke|--dry-run|--requirement"
  "2|usage: tools/mac-smoke|--dry-run|$the_app|$the_app"
  "1|$scratch/missing.app is not there|--dry-run|$scratch/missing.app"
  "1|has no Contents/MacOS/CorvelDriverInstaller|--dry-run|$scratch/no-installer.app"
  "1|has no Contents/Resources/Orlana2ch.driver|--dry-run|$scratch/no-payload.app"
  "1|$scratch/lone/signature-requirement.txt is not there|--dry-run|$scratch/lone/Corvel.app"
  "1|$scratch/missing.txt is not there|--dry-run|--requirement|$scratch/missing.txt"
  "1|holds no signing requirement (it begins with =)|--dry-run|$scratch/bad/Corvel.app"
  "1|holds no signing requirement (it begins with =)|--dry-run|--requirement|$scratch/empty-requirement.txt"
  "1|this runs on a Mac only (--dry-run shows what it would run)|"
  "1|this runs on a Mac only (--dry-run shows what it would run)|--install|$the_app"
)
expect_refusals mac-smoke "$smoke" "${refusals[@]}"

# Recorded outputs, as the Mac's tools print them.
payload_valid='DRIVER_PAYLOAD_VALID team=K7QZ2RM4TD architecture=arm64 files=8'
root_env=$'SHELL=/bin/zsh\rUSER=root\rCORVEL_SMOKE_MARKER=passed-by-the-caller\rPWD=/\rSHLVL=1'
root_env_without=$'USER=root\rXCORVEL_SMOKE_MARKER=passed-by-the-caller\rCORVEL_SMOKE_MARKER=other\rSHLVL=1'
cancelled='0:62: execution error: User canceled. (-128)'
not_permitted='0:62: execution error: Not authorized to send Apple events to System Events. (-1743)'
differs='INSTALLED_DRIVER_DIFFERS reason=digest path=/Library/Audio/Plug-Ins/HAL/Orlana2ch.driver/Contents/Info.plist'
codesign_display=$'Executable=/x/Contents/MacOS/CorvelDriverInstaller\nIdentifier=com.tessarocorvel.installer\nCodeDirectory v=20500 size=1234 flags=0x10000(runtime) hashes=30+7 location=embedded'

# How each step's output is judged: judge, exit status, output, PASS or FAIL,
# and what the report says about it.
# shellcheck source=/dev/null # the script under test, as copied into the scratch tree
source "$smoke"
judgements=(
  "payload_valid|0|$payload_valid"$'\n'"DRIVER_NOT_INSTALLED|PASS|DRIVER_NOT_INSTALLED"
  "payload_valid|0|$payload_valid"$'\n'"EXISTING_DRIVER_PRESERVED|PASS|EXISTING_DRIVER_PRESERVED"
  "payload_valid|1|安装文件未通过完整性检查。请重新下载完整安装包。|FAIL|"
  "payload_valid|0|${payload_valid/files=8/files=7}"$'\n'"DRIVER_NOT_INSTALLED|FAIL|DRIVER_NOT_INSTALLED"
  "payload_valid|0|$payload_valid|FAIL|"
  "payload_valid|0|$payload_valid"$'\n'"DRIVER_NOT_INSTALLED"$'\n'"DRIVER_NOT_INSTALLED|FAIL|DRIVER_NOT_INSTALLED"
  "installed_state|0|DRIVER_NOT_INSTALLED|PASS|DRIVER_NOT_INSTALLED"
  "installed_state|0|INSTALLED_DRIVER_MATCHES|PASS|INSTALLED_DRIVER_MATCHES"
  "installed_state|0|$differs|PASS|$differs"
  "installed_state|0|INSTALLED_DRIVER_DIFFERS|FAIL|INSTALLED_DRIVER_DIFFERS"
  "installed_state|0|DRIVER_NOT_INSTALLED"$'\n'"DRIVER_NOT_INSTALLED|FAIL|DRIVER_NOT_INSTALLED"
  "installed_state|1|此安装包需要 Apple 芯片 Mac 和 macOS 14 或更新版本。|FAIL|此安装包需要 Apple 芯片 Mac 和 macOS 14 或更新版本。"
  "driver_matches|0|INSTALLED_DRIVER_MATCHES|PASS|INSTALLED_DRIVER_MATCHES"
  "driver_matches|0|DRIVER_NOT_INSTALLED|FAIL|DRIVER_NOT_INSTALLED"
  "driver_matches|0|$differs|FAIL|$differs"
  "driver_matches|1|INSTALLED_DRIVER_MATCHES|FAIL|INSTALLED_DRIVER_MATCHES"
  "driver_absent|0|DRIVER_NOT_INSTALLED|PASS|DRIVER_NOT_INSTALLED"
  "driver_absent|0|INSTALLED_DRIVER_MATCHES|FAIL|INSTALLED_DRIVER_MATCHES"
  "root_environment|0|$root_env|PASS|the caller's environment reaches root"
  "root_environment|0|$root_env_without|PASS|the caller's environment does not reach root"
  "root_environment|1|$not_permitted|FAIL|the administrator prompt ran nothing: error -1743"
  "root_environment|1|$cancelled|FAIL|the administrator prompt ran nothing: error -128"
  "cancelled_prompt|1|$cancelled|PASS|error -128, expected -128"
  "cancelled_prompt|1|${cancelled/-128/-60005}|FAIL|error -60005, expected -128"
  "cancelled_prompt|1|osascript: no such script|FAIL|error without a number, expected -128"
  "cancelled_prompt|0||FAIL|the prompt was not cancelled"
  "install_script_ran|0|CORVEL_DRIVER_INSTALLED|PASS|CORVEL_DRIVER_INSTALLED"
  "install_script_ran|0|sudo: unable to resolve host"$'\n'"CORVEL_DRIVER_PRESENT|PASS|CORVEL_DRIVER_PRESENT"
  "install_script_ran|1|CORVEL_DRIVER_CHECK_FAILED|FAIL|CORVEL_DRIVER_CHECK_FAILED"
  "install_script_ran|0||FAIL|"
  "uninstall_script_ran|0|CORVEL_DRIVER_REMOVED|PASS|CORVEL_DRIVER_REMOVED"
  "uninstall_script_ran|0|CORVEL_DRIVER_NOT_PRESENT|FAIL|CORVEL_DRIVER_NOT_PRESENT"
  "uninstall_script_ran|1|CORVEL_DRIVER_CHECK_FAILED|FAIL|CORVEL_DRIVER_CHECK_FAILED"
  "runtime_flag|0|$codesign_display|PASS|hardened runtime on"
  "runtime_flag|0|${codesign_display/0x10000(runtime)/0x0(none)}|PASS|hardened runtime off"
  "runtime_flag|1|/x: code object is not signed at all|FAIL|hardened runtime off"
  "gatekeeper_accepts|0|/x: accepted"$'\n'"source=Notarized Developer ID|PASS|Notarized Developer ID"
  "gatekeeper_accepts|3|/x: rejected"$'\n'"source=Unnotarized Developer ID|FAIL|Unnotarized Developer ID"
  "shell_selection|0|lrwxr-xr-x  1 root  wheel  9 Jan  1 00:00 /private/var/select/sh -> /bin/bash|PASS|/bin/sh runs /bin/bash"
  "shell_selection|1|ls: /private/var/select/sh: No such file or directory|PASS|no /private/var/select/sh"
)
for judgement in "${judgements[@]}"; do
  IFS='|' read -r -d '' judge status output verdict expected_note <<<"$judgement" || true
  expected_note=${expected_note%$'\n'}
  got=PASS
  "$judge" "$status" "$output" || got=FAIL
  # shellcheck disable=SC2154 # note is the judge's finding, set by the sourced script
  if [ "$got" != "$verdict" ] || [ "$note" != "$expected_note" ]; then
    failed "$judge $status '$output': $got ($note) instead of $verdict ($expected_note)"
  fi
done

# Whole runs on a pretend Mac: uname says Darwin, and each command answers, in
# the order the commands run, with the next recorded answer (exit status, a
# blank, output), after its line goes to the log.
answers_of_a_good_mac=(
  "0 ProductName:		macOS"$'\n'"ProductVersion:		14.4"
  "0 arm64"
  "0 $the_app/Contents/Resources/Orlana2ch.driver: valid on disk"
  "0 $the_app: accepted"$'\n'"source=Notarized Developer ID"
  "0 $codesign_display"
  "0 $payload_valid"$'\n'"DRIVER_NOT_INSTALLED"
  "0 DRIVER_NOT_INSTALLED"
  "0 -r-xr-xr-x  1 root  wheel  101232 Jan  1 00:00 /bin/sh"
  "0 lrwxr-xr-x  1 root  wheel  9 Jan  1 00:00 /private/var/select/sh -> /bin/bash"
  "0 GNU bash, version 3.2.57(1)-release (arm64-apple-darwin23)"
  "0 $root_env"
  "1 $cancelled"
  "0 CORVEL_DRIVER_INSTALLED"
  "0 INSTALLED_DRIVER_MATCHES"
  "0 CORVEL_DRIVER_REMOVED"
  "0 DRIVER_NOT_INSTALLED"
  "0 "
  "0 INSTALLED_DRIVER_MATCHES"
)
log=$scratch/commands.log
# Runs mac-smoke's main in a subshell, with ANSWERS and ARGUMENTS...;
# its standard output and error go to $scratch/out and $scratch/err.
run_on_a_pretend_mac() {
  local -a recorded_answers=("${!1}")
  shift
  : >"$log"
  # shellcheck disable=SC2317 # the stand-ins are called by main
  (
    uname() { echo Darwin; }
    execute() {
      command_line "$@" >>"$log"
      local answer
      answer=${recorded_answers[$(($(wc -l <"$log") - 1))]}
      printf '%s\n' "${answer#* }"
      return "${answer%% *}"
    }
    main "$@"
  ) >"$scratch/out" 2>"$scratch/err"
}

report_of() {
  [ -f "$1" ] && cat "$1"
}

# Everything passes, with --install: the commands ran in the dry run's order,
# and the report, beside the application, has every step, what it printed and
# the findings.
rm -f "$the_report"
status=0
run_on_a_pretend_mac answers_of_a_good_mac[@] --install "$the_app" || status=$?
text=$(report_of "$the_report") || text=
if [ "$status" != 0 ] || [ "$(<"$log")" != "$read_only_commands"$'\n'"$install_commands" ]; then
  failed "a good Mac: status $status, ran
$(<"$log")
$(<"$scratch/err")"
fi
for wanted in "application: $the_app" "steps: read-only, then --install" \
  "11. root's environment through the administrator prompt: PASS (the caller's environment reaches root)" \
  "   | CORVEL_SMOKE_MARKER=passed-by-the-caller" \
  "12. a cancelled administrator prompt: PASS (error -128, expected -128)" \
  "   | $cancelled"$'\n'"   status 1" \
  "5. the application's signature: PASS (hardened runtime on)" \
  "   \$ $the_installer --print-install-script | /usr/bin/sudo /bin/sh" \
  "17. the application, clicked through: PASS"$'\n'"   \$ /usr/bin/open -W $the_app"$'\n'"   (no output)" \
  "18. --check-installed after the application: PASS (INSTALLED_DRIVER_MATCHES)" \
  $'\n'"result: PASS, 18 steps"; do
  [[ $text == *"$wanted"* ]] || failed "a good Mac: the report lacks
$wanted
in
$text"
done
# The person is told what to do before each prompt, and that the application's
# result is checked with --check-installed.
out=$(<"$scratch/out")
[[ $out == *"cancel it, on purpose"*"12. a cancelled administrator prompt"* ]] ||
  failed "a good Mac: no request to cancel the prompt before it: $out"
[[ $out == *"runs --check-installed as after the sudo installation, and it must say"*"INSTALLED_DRIVER_MATCHES"*"17. the application"* ]] ||
  failed "a good Mac: the request to click through does not say how the result is checked: $out"

# Failures stop the run at their step, after the tool's own message: the
# report ends with that step, and nothing after it runs. A real installation
# that the application did not make (its administrator prompt refused, say)
# fails at the last step.
declare -a answers
failing_runs=(
  "6|1 安装文件未通过完整性检查。请重新下载完整安装包。"
  "13|1 CORVEL_DRIVER_CHECK_FAILED"
  "15|0 CORVEL_DRIVER_NOT_PRESENT"
  "18|0 DRIVER_NOT_INSTALLED"
)
for failing in "${failing_runs[@]}"; do
  at=${failing%%|*}
  answers=("${answers_of_a_good_mac[@]}")
  answers[at - 1]=${failing#*|}
  status=0
  run_on_a_pretend_mac answers[@] --install --report "$scratch/failed.txt" "$the_app" || status=$?
  text=$(report_of "$scratch/failed.txt") || text=
  ran=$(wc -l <"$log")
  message=${failing#*|}
  message=${message#* }
  if [ "$status" != 1 ] || [ "$ran" != "$at" ] ||
    [[ $(<"$scratch/err") != "$message"$'\n'"mac-smoke: stopped at step $at, "*"; the report is $scratch/failed.txt" ]] ||
    [[ $text != *$'\n'"$at. "*": FAIL"*$'\n'"result: FAIL at step $at" ]]; then
    failed "failing at step $at: status $status after $ran commands, said
$(<"$scratch/err")
and reported
$text"
  fi
done

# Without --install nothing changes the Mac: the read-only steps only.
# shellcheck disable=SC2034 # passed by name
answers=("${answers_of_a_good_mac[@]:0:12}")
status=0
run_on_a_pretend_mac answers[@] --report "$scratch/read-only.txt" "$the_app" || status=$?
text=$(report_of "$scratch/read-only.txt") || text=
if [ "$status" != 0 ] || [ "$(<"$log")" != "$read_only_commands" ] ||
  [[ $text != *"steps: read-only"$'\n'* ]] || [[ $text != *$'\n'"result: PASS, 12 steps" ]]; then
  failed "read-only run: status $status, ran
$(<"$log")
and reported
$text"
fi

finish "mac-smoke: ${#dry_runs[@]} dry runs, ${#refusals[@]} refusals, ${#judgements[@]} judgements and $((${#failing_runs[@]} + 2)) runs on a pretend Mac as expected"
