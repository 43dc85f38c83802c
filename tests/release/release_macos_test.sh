#!/usr/bin/env bash
# tools/release-macos: what --dry-run says it would run, for a sample identity
# and keychain profile, that it runs none of it, and what it refuses; how it
# reads recorded outputs of codesign --display and of notarytool; and what a
# release runs after each of them, on a Mac made of stand-ins.
#   release_macos_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# shellcheck source=tests/release/checks.sh
. "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

# A source tree as the macos build leaves it: the script, the application with
# its payload, and the signing requirement beside the application.
mkdir -p "$scratch/tools" "$scratch/build-macos/CorvelDriverInstaller.app/Contents/Resources/Orlana2ch.driver"
cp "$source_dir/tools/release-macos" "$source_dir/tools/print-command.sh" "$scratch/tools/"
printf '%s\n' '=anchor apple generic and certificate leaf[subject.OU] = "K7QZ2RM4TD"' \
  >"$scratch/build-macos/signature-requirement.txt"
build=$scratch/build-macos
app=$build/CorvelDriverInstaller.app
release=$scratch/tools/release-macos
identity='Developer ID Application: Tessaro Corvel (K7QZ2RM4TD)'

expected="/usr/bin/codesign --display --verbose=4 $app/Contents/Resources/Orlana2ch.driver
# goes on only if the driver shows a Developer ID Application signature of team K7QZ2RM4TD with a secure timestamp (Timestamp=)
/usr/bin/codesign --verify --deep --strict --test-requirement '=anchor apple generic and certificate leaf[subject.OU] = \"K7QZ2RM4TD\"' $app/Contents/Resources/Orlana2ch.driver
/usr/bin/codesign --force --sign 'Developer ID Application: Tessaro Corvel (K7QZ2RM4TD)' --options runtime --timestamp $app
/bin/rm -f $build/CorvelDriverInstaller-notarization.zip $build/CorvelDriverInstaller.zip
/usr/bin/ditto -c -k --keepParent $app $build/CorvelDriverInstaller-notarization.zip
/usr/bin/xcrun notarytool submit $build/CorvelDriverInstaller-notarization.zip --keychain-profile corvel-notary --wait --output-format json
# goes on only for the status Accepted; for any other, prints Apple's reasons with /usr/bin/xcrun notarytool log ID --keychain-profile corvel-notary and stops
/usr/bin/xcrun stapler staple $app
/usr/sbin/spctl --assess --type execute $app
/usr/bin/codesign --verify --strict $app
/usr/bin/ditto -c -k --keepParent $app $build/CorvelDriverInstaller.zip"

# Zips left by an earlier run: the first command that would run removes them,
# so they show whether anything ran.
touch "$build/CorvelDriverInstaller-notarization.zip" "$build/CorvelDriverInstaller.zip"
nothing_ran() {
  if [ ! -e "$build/CorvelDriverInstaller-notarization.zip" ] || [ ! -e "$build/CorvelDriverInstaller.zip" ]; then
    failed "$1: a command ran"
  fi
}

# The dry run, with the application given or by default, in any order.
for arguments in "--identity|$identity|--profile|corvel-notary|--dry-run" \
  "--dry-run|$app/|--profile|corvel-notary|--identity|$identity"; do
  IFS='|' read -r -a words <<<"$arguments"
  if ! output=$("$release" "${words[@]}" 2>&1); then
    failed "dry run ${words[*]}: failed: $output"
  elif [ "$output" != "$expected" ]; then
    failed "dry run ${words[*]}: printed
$output
instead of
$expected"
  fi
  nothing_ran "dry run ${words[*]}"
done

# Every printed line reads back, in a shell, as the words it stands for, even
# for a path with a blank and a quote in it.
odd_build="$scratch/Tessaro's builds/build macos"
odd_app="$odd_build/Corvel Installer.app"
mkdir -p "$odd_app/Contents/Resources/Orlana2ch.driver"
cp "$build/signature-requirement.txt" "$odd_build/"
if ! output=$("$release" --dry-run --identity "$identity" --profile 'corvel notary' "$odd_app" 2>&1); then
  failed "dry run with an odd path: failed: $output"
else
  mapfile -t lines <<<"$output"
  # shellcheck disable=SC2154 # display, verify, sign and submit are set by the eval
  if ! eval "display=(${lines[0]}); verify=(${lines[2]}); sign=(${lines[3]}); submit=(${lines[6]})" ||
    [ "${display[3]}" != "$odd_app/Contents/Resources/Orlana2ch.driver" ] ||
    [ "${verify[5]}" != '=anchor apple generic and certificate leaf[subject.OU] = "K7QZ2RM4TD"' ] ||
    [ "${verify[6]}" != "$odd_app/Contents/Resources/Orlana2ch.driver" ] ||
    [ "${sign[3]}" != "$identity" ] || [ "${sign[7]}" != "$odd_app" ] ||
    [ "${submit[3]}" != "$odd_build/Corvel Installer-notarization.zip" ] ||
    [ "${submit[5]}" != 'corvel notary' ] ||
    [[ ${lines[7]} != *" with /usr/bin/xcrun notarytool log ID --keychain-profile 'corvel notary' and stops" ]]; then
    failed "dry run with an odd path: the lines do not read back as the words:
$output"
  fi
fi

# What it refuses: arguments, an application it cannot release, and a real
# run anywhere but on a Mac. None of them runs anything.
rm -rf "$scratch/no-payload.app" "$scratch/lone" "$scratch/teamless"
mkdir -p "$scratch/no-payload.app/Contents" "$scratch/lone/Corvel.app/Contents/Resources/Orlana2ch.driver" \
  "$scratch/teamless/Corvel.app/Contents/Resources/Orlana2ch.driver"
echo '=anchor apple generic and identifier "com.tessarocorvel.audio.Orlana2ch"' >"$scratch/teamless/signature-requirement.txt"
refusals=(
  "2|usage: tools/release-macos|"
  "2|usage: tools/release-macos|--identity|$identity|--dry-run"
  "2|usage: tools/release-macos|--profile|corvel-notary|--dry-run"
  "2|usage: tools/release-macos|--identity||--profile|corvel-notary|--dry-run"
  "2|usage: tools/release-macos|--identity|$identity|--profile"
  "2|usage: tools/release-macos|--identity|$identity|--profile|corvel-notary|--deep|--dry-run"
  "2|usage: tools/release-macos|--identity|$identity|--profile|corvel-notary|--dry-run|$app|$app"
  "1|$scratch/missing.app is not there|--identity|$identity|--profile|corvel-notary|--dry-run|$scratch/missing.app"
  "1|has no Contents/Resources/Orlana2ch.driver|--identity|$identity|--profile|corvel-notary|--dry-run|$scratch/no-payload.app"
  "1|$scratch/lone/signature-requirement.txt is not there|--identity|$identity|--profile|corvel-notary|--dry-run|$scratch/lone/Corvel.app"
  "1|$scratch/teamless/signature-requirement.txt names no team|--identity|$identity|--profile|corvel-notary|--dry-run|$scratch/teamless/Corvel.app"
  "1|this runs on a Mac only|--identity|$identity|--profile|corvel-notary"
)
expect_refusals release-macos "$release" "${refusals[@]}"

# From here on, the script's own functions: sourced, it defines them and runs
# nothing.
# shellcheck source=/dev/null # the script is checked on its own
source "$release"

# What codesign --display --verbose=4 writes to standard error, as recorded
# for the driver signed by its own build with --timestamp, and the kinds of
# signature the notary service refuses.
declare -A displays answers
displays[timestamped]="Executable=$app/Contents/Resources/Orlana2ch.driver/Contents/MacOS/Orlana2ch
Identifier=com.tessarocorvel.audio.Orlana2ch
Format=bundle with Mach-O universal (x86_64 arm64)
CodeDirectory v=20500 size=1187 flags=0x10000(runtime) hashes=26+7 location=embedded
Hash type=sha256 size=32
CandidateCDHash sha256=4c1e0b5d9a7f23e86b0d4f1a9c2e7b3d5f6a8c01
CandidateCDHashFull sha256=4c1e0b5d9a7f23e86b0d4f1a9c2e7b3d5f6a8c01e2d3c4b5a69788796a5b4c3d
Hash choices=sha256
CMSDigest=4c1e0b5d9a7f23e86b0d4f1a9c2e7b3d5f6a8c01e2d3c4b5a69788796a5b4c3d
CMSDigestType=2
CDHash=4c1e0b5d9a7f23e86b0d4f1a9c2e7b3d5f6a8c01
Signature size=9046
Authority=Developer ID Application: Tessaro Corvel (K7QZ2RM4TD)
Authority=Developer ID Certification Authority
Authority=Apple Root CA
Timestamp=Dec 11, 2026 at 10:00:00
Info.plist entries=21
TeamIdentifier=K7QZ2RM4TD
Runtime Version=14.2.0
Sealed Resources version=2 rules=13 files=8
Internal requirements count=1 size=196"
# Signed the same way but without --timestamp: the signer's clock only.
displays[signed_time_only]=${displays[timestamped]/Timestamp=/Signed Time=}
# Signed by a Developer ID Application certificate, but another team's.
other_team=${displays[timestamped]//Tessaro Corvel (K7QZ2RM4TD)/Halvard Audio (Q8W3E5R7T9)}
displays[other_team]=${other_team/TeamIdentifier=K7QZ2RM4TD/TeamIdentifier=Q8W3E5R7T9}
displays[ad_hoc]="Executable=$app/Contents/Resources/Orlana2ch.driver/Contents/MacOS/Orlana2ch
Identifier=com.tessarocorvel.audio.Orlana2ch
Format=bundle with Mach-O universal (x86_64 arm64)
CodeDirectory v=20400 size=1059 flags=0x2(adhoc) hashes=26+3 location=embedded
Hash type=sha256 size=32
CandidateCDHash sha256=9b2f6d0e8c4a1735b9e0d2c6f4a8b1e3d5c7f902
Hash choices=sha256
CDHash=9b2f6d0e8c4a1735b9e0d2c6f4a8b1e3d5c7f902
Signature=adhoc
Info.plist entries=21
TeamIdentifier=not set
Sealed Resources version=2 rules=13 files=8
Internal requirements count=0 size=12"

redo="The driver's own build must sign it again with the Developer ID Application certificate of team K7QZ2RM4TD and a secure timestamp (codesign --timestamp), and this installer must then be built from that driver: its manifest is made from the driver's bytes."
signatures=(
  "timestamped|"
  "signed_time_only|it was signed without a secure timestamp (codesign shows Signed Time=, not Timestamp=), and the notary service refuses it. $redo"
  "ad_hoc|its signature is ad hoc (Signature=adhoc), not a Developer ID Application signature of team K7QZ2RM4TD, and the notary service refuses it. $redo"
  "other_team|it is signed by team Q8W3E5R7T9 (\"Developer ID Application: Halvard Audio (Q8W3E5R7T9)\"), not by team K7QZ2RM4TD, and the notary service refuses it. $redo"
)
for signature in "${signatures[@]}"; do
  IFS='|' read -r recording expected_refusal <<<"$signature"
  status=0
  refusal=$(driver_signature_refusal K7QZ2RM4TD "${displays[$recording]}") || status=$?
  if [ -z "$expected_refusal" ] && { [ "$status" -ne 0 ] || [ -n "$refusal" ]; }; then
    failed "the driver's signature ($recording): refused with: $refusal"
  elif [ -n "$expected_refusal" ] && { [ "$status" -eq 0 ] || [ "$refusal" != "$expected_refusal" ]; }; then
    failed "the driver's signature ($recording): status $status and
$refusal
instead of a refusal with
$expected_refusal"
  fi
done

# What notarytool submit --wait --output-format json prints on standard
# output, as recorded, and what the release makes of it. The text one is what
# notarytool prints without --output-format: "status: Accepted" in it must
# not pass for the verdict.
answers[accepted]='{"id":"2efe2717-52ef-43a5-96dc-0797e4ca1041","message":"Processing complete","status":"Accepted"}'
answers[accepted_spread]='{
  "status" : "Accepted",
  "message" : "Processing complete",
  "id" : "2efe2717-52ef-43a5-96dc-0797e4ca1041"
}'
answers[invalid]='{"id":"6d9a1c4e-0b7f-4e2a-9c35-81f0d2b4a7e6","message":"Processing complete","status":"Invalid"}'
answers[in_progress]='{"id":"b37e0c92-5d1a-4f86-a0e4-2c9d7b18f5a3","message":"Processing","status":"In Progress"}'
answers[text_answer]="Conducting pre-submission checks for CorvelDriverInstaller-notarization.zip and initiating connection to the Apple notary service...
Submission ID received
  id: 2efe2717-52ef-43a5-96dc-0797e4ca1041
Successfully uploaded file
  id: 2efe2717-52ef-43a5-96dc-0797e4ca1041
  path: $build/CorvelDriverInstaller-notarization.zip
Waiting for processing to complete.
Current status: Accepted.......
Processing complete
  id: 2efe2717-52ef-43a5-96dc-0797e4ca1041
  status: Accepted"
answer_cases=(
  "accepted|2efe2717-52ef-43a5-96dc-0797e4ca1041|Accepted|"
  "accepted_spread|2efe2717-52ef-43a5-96dc-0797e4ca1041|Accepted|"
  "invalid|6d9a1c4e-0b7f-4e2a-9c35-81f0d2b4a7e6|Invalid|notarization not accepted: status Invalid, submission 6d9a1c4e-0b7f-4e2a-9c35-81f0d2b4a7e6; nothing was stapled (Apple's reasons are in the notary log above)"
  "in_progress|b37e0c92-5d1a-4f86-a0e4-2c9d7b18f5a3|In Progress|notarization not accepted: status In Progress, submission b37e0c92-5d1a-4f86-a0e4-2c9d7b18f5a3; nothing was stapled (Apple's reasons are in the notary log above)"
  "text_answer|||notarization not accepted: status unreadable, submission unreadable; nothing was stapled (notarytool's answer is above)"
)
for answer_case in "${answer_cases[@]}"; do
  IFS='|' read -r recording expected_id expected_status expected_reason <<<"$answer_case"
  read_notary_answer "${answers[$recording]}"
  status=0
  reason=$(notarization_stop_reason) || status=$?
  # shellcheck disable=SC2154 # read_notary_answer sets submission_id and submission_status
  if [ "$submission_id" != "$expected_id" ] || [ "$submission_status" != "$expected_status" ] ||
    [ "$reason" != "$expected_reason" ] || { [ -z "$expected_reason" ] && [ "$status" -ne 0 ]; } ||
    { [ -n "$expected_reason" ] && [ "$status" -eq 0 ]; }; then
    failed "notarytool's answer ($recording): id '$submission_id', status '$submission_status', stop $status with
$reason
instead of id '$expected_id', status '$expected_status' and
${expected_reason:-going on}"
  fi
done

# The release on a Mac made of stand-ins: each command named by its absolute
# path is a function (bash looks functions up before the file system even for
# such names) that notes its words in $ran; codesign --display shows
# $recorded_display, notarytool submit prints $recorded_answer and ends with
# $submit_status. (Named apart from the script's own variables, which the
# stand-ins would see instead.)
ran=$scratch/ran
# shellcheck disable=SC2317 # the stand-ins are called by main
release_on_stand_ins() (
  uname() { echo Darwin; }
  note() { printf '%s\n' "$*" >>"$ran"; }
  /usr/bin/codesign() {
    note codesign "$1"
    if [ "$1" = --display ]; then printf '%s\n' "$recorded_display" >&2; fi
  }
  /usr/bin/xcrun() {
    note xcrun "$@"
    case $2 in
      submit)
        if [ "$submit_status" -ne 0 ]; then echo "Error: The Internet connection appears to be offline." >&2; fi
        [ -z "$recorded_answer" ] || printf '%s\n' "$recorded_answer"
        return "$submit_status"
        ;;
      log) echo '{"issues": [{"severity": "error", "message": "The signature does not include a secure timestamp."}]}' ;;
    esac
  }
  /bin/rm() { note rm; }
  /usr/bin/ditto() { note ditto "$5"; }
  /usr/sbin/spctl() { note spctl; }
  main --identity "$identity" --profile corvel-notary
)
submission="$build/CorvelDriverInstaller-notarization.zip --keychain-profile corvel-notary --wait --output-format json"
signed="codesign --display,codesign --verify,codesign --force,rm,ditto $build/CorvelDriverInstaller-notarization.zip"
releases=(
  "timestamped|accepted|0|0||$signed,xcrun notarytool submit $submission,xcrun stapler staple $app,spctl,codesign --verify,ditto $build/CorvelDriverInstaller.zip"
  "timestamped|invalid|0|1|notarization not accepted: status Invalid, submission 6d9a1c4e-0b7f-4e2a-9c35-81f0d2b4a7e6|$signed,xcrun notarytool submit $submission,xcrun notarytool log 6d9a1c4e-0b7f-4e2a-9c35-81f0d2b4a7e6 --keychain-profile corvel-notary"
  "timestamped|text_answer|0|1|status unreadable, submission unreadable|$signed,xcrun notarytool submit $submission"
  "timestamped||1|1|stopped: /usr/bin/xcrun notarytool submit $submission ended with status 1|$signed,xcrun notarytool submit $submission"
  "signed_time_only|accepted|0|1|$app/Contents/Resources/Orlana2ch.driver: it was signed without a secure timestamp|codesign --display"
)
for release_case in "${releases[@]}"; do
  IFS='|' read -r display_recording answer_recording submit_status expected_status message expected_ran <<<"$release_case"
  recorded_display=${displays[$display_recording]}
  recorded_answer=
  [ -z "$answer_recording" ] || recorded_answer=${answers[$answer_recording]}
  rm -f "$ran"
  status=0
  output=$(release_on_stand_ins 2>&1) || status=$?
  commands=$(tr '\n' , <"$ran")
  if [ "$status" != "$expected_status" ] || [[ $output != *"$message"* ]] || [ "$commands" != "$expected_ran," ]; then
    failed "a release ($display_recording, ${answer_recording:-no answer}, submit status $submit_status): status $status, ran
$commands
and printed
$output
instead of status $expected_status, with the message: $message, after
$expected_ran,"
  fi
done

finish "release-macos: the dry run, ${#refusals[@]} refusals, ${#signatures[@]} driver signatures, ${#answer_cases[@]} notarytool answers and ${#releases[@]} releases as expected"
