#!/usr/bin/env bash
# Editing a payload file and building again gives the installer the new
# manifest: the digests are a real build dependency, never a stale value.
#   rebuild_test.sh SOURCE_DIR SCRATCH_DIR
set -euo pipefail
source_dir=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"
cp -a "$source_dir/resources/Orlana2ch.driver" "$scratch/Orlana2ch.driver"

cmake -S "$source_dir" -B "$scratch/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVEL_BUILD_TESTS=OFF \
  -DCORVEL_SANITIZE=OFF "-DCORVEL_PAYLOAD=$scratch/Orlana2ch.driver" >/dev/null
cmake --build "$scratch/build" >/dev/null

# The bundle names its icon, and the icon is in Resources as an icns file.
contents=$scratch/build/CorvelDriverInstaller.app/Contents
icon=$(sed -n '/<key>CFBundleIconFile<\/key>/{n;s/.*<string>\(.*\)<\/string>.*/\1/p;}' "$contents/Info.plist")
[ -n "$icon" ] || { echo "the bundle's Info.plist names no CFBundleIconFile" >&2; exit 1; }
[ "$(head -c 4 "$contents/Resources/$icon" 2>/dev/null)" = icns ] ||
  { echo "the bundle has no icns file $icon in Contents/Resources" >&2; exit 1; }

printf 'changed\n' > "$scratch/Orlana2ch.driver/Contents/Resources/VERSION"
cmake --build "$scratch/build" >/dev/null
expected=$(sha256sum "$scratch/Orlana2ch.driver/Contents/Resources/VERSION" | cut -d ' ' -f 1)
grep -q "\"Contents/Resources/VERSION\", \"$expected\"" "$scratch/build/generated/build_manifest_data.h" || {
  echo "the manifest kept a stale digest for Contents/Resources/VERSION" >&2
  exit 1
}
# The bundle carries the edited file and the installer's script expects it.
cmp "$scratch/Orlana2ch.driver/Contents/Resources/VERSION" \
  "$scratch/build/CorvelDriverInstaller.app/Contents/Resources/Orlana2ch.driver/Contents/Resources/VERSION"
# (Through a file: grep -q ending the pipe early would fail it under pipefail.)
strings "$scratch/build/CorvelDriverInstaller.app/Contents/MacOS/CorvelDriverInstaller" > "$scratch/strings"
grep -q "$expected" "$scratch/strings" || {
  echo "the installer was not rebuilt with the new digest" >&2
  exit 1
}

# A payload the installer could not accept stops the build.
ln -s Info.plist "$scratch/Orlana2ch.driver/Contents/link"
if output=$(cmake --build "$scratch/build" 2>&1); then
  echo "the build went on with a symbolic link in the payload" >&2
  exit 1
fi
grep -q "Contents/link is neither a directory nor a regular file" <<<"$output" || {
  echo "the build stopped without saying why: $output" >&2
  exit 1
}
rm -rf "$scratch"
echo "rebuild test passed"
