#!/usr/bin/env bash
# tools/release-macos: what --dry-run says it would run, for a sample identity
# and keychain profile, that it runs none of it, and what it refuses.
#   release_macos_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# A source tree as the macos build leaves it: the script, the application with
# its payload, and the signing requirement beside the application.
mkdir -p "$scratch/tools" "$scratch/build-macos/CorvelDriverInstaller.app/Contents/Resources/Orlana2ch.driver"
cp "$source_dir/tools/release-macos" "$scratch/tools/"
printf '%s\n' '=anchor apple generic and certificate leaf[subject.OU] = "K7QZ2RM4TD"' \
  >"$scratch/build-macos/signature-requirement.txt"
build=$scratch/build-macos
app=$build/CorvelDriverInstaller.app
release=$scratch/tools/release-macos
identity='Developer ID Application: Tessaro Corvel (K7QZ2RM4TD)'

expected="/usr/bin/codesign --verify --deep --strict --test-requirement '=anchor apple generic and certificate leaf[subject.OU] = \"K7QZ2RM4TD\"' $app/Contents/Resources/Orlana2ch.driver
/usr/bin/codesign --force --sign 'Developer ID Application: Tessaro Corvel (K7QZ2RM4TD)' --options runtime --timestamp $app
/bin/rm -f $build/CorvelDriverInstaller-notarization.zip $build/CorvelDriverInstaller.zip
/usr/bin/ditto -c -k --keepParent $app $build/CorvelDriverInstaller-notarization.zip
/usr/bin/xcrun notarytool submit $build/CorvelDriverInstaller-notarization.zip --keychain-profile corvel-notary --wait
/usr/bin/xcrun stapler staple $app
/usr/sbin/spctl --assess --type execute $app
/usr/bin/codesign --verify --strict $app
/usr/bin/ditto -c -k --keepParent $app $build/CorvelDriverInstaller.zip"

# Zips left by an earlier run: the first command that would run removes them,
# so they show whether anything ran.
touch "$build/CorvelDriverInstaller-notarization.zip" "$build/CorvelDriverInstaller.zip"
nothing_ran() {
  if [ ! -e "$build/CorvelDriverInstaller-notarization.zip" ] || [ ! -e "$build/CorvelDriverInstaller.zip" ]; then
    fail "$1: a command ran"
  fi
}

# The dry run, with the application given or by default, in any order.
for arguments in "--identity|$identity|--profile|corvel-notary|--dry-run" \
  "--dry-run|$app/|--profile|corvel-notary|--identity|$identity"; do
  IFS='|' read -r -a words <<<"$arguments"
  if ! output=$("$release" "${words[@]}" 2>&1); then
    fail "dry run ${words[*]}: failed: $output"
  elif [ "$output" != "$expected" ]; then
    fail "dry run ${words[*]}: printed
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
  fail "dry run with an odd path: failed: $output"
else
  mapfile -t lines <<<"$output"
  # shellcheck disable=SC2154 # first, second and fifth are set by the eval
  if ! eval "first=(${lines[0]}); second=(${lines[1]}); fifth=(${lines[4]})" ||
    [ "${first[5]}" != '=anchor apple generic and certificate leaf[subject.OU] = "K7QZ2RM4TD"' ] ||
    [ "${first[6]}" != "$odd_app/Contents/Resources/Orlana2ch.driver" ] ||
    [ "${second[3]}" != "$identity" ] || [ "${second[7]}" != "$odd_app" ] ||
    [ "${fifth[3]}" != "$odd_build/Corvel Installer-notarization.zip" ] ||
    [ "${fifth[5]}" != 'corvel notary' ]; then
    fail "dry run with an odd path: the lines do not read back as the words:
$output"
  fi
fi

# What it refuses: arguments, an application it cannot release, and a real
# run anywhere but on a Mac. None of them runs anything.
rm -rf "$scratch/no-payload.app" "$scratch/lone"
mkdir -p "$scratch/no-payload.app/Contents" "$scratch/lone/Corvel.app/Contents/Resources/Orlana2ch.driver"
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
  "1|this runs on a Mac only|--identity|$identity|--profile|corvel-notary"
)
for refusal in "${refusals[@]}"; do
  IFS='|' read -r -a fields <<<"$refusal"
  expected_status=${fields[0]}
  message=${fields[1]}
  words=("${fields[@]:2}")
  status=0
  output=$("$release" "${words[@]}" 2>&1) || status=$?
  if [ "$status" != "$expected_status" ] || [[ $output != *"$message"* ]]; then
    fail "release-macos ${words[*]}: status $status and
$output
expected status $expected_status and a message with: $message"
  fi
  nothing_ran "release-macos ${words[*]}"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures failed" >&2
  exit 1
fi
echo "release-macos: the dry run and ${#refusals[@]} refusals as expected"
