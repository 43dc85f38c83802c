#!/usr/bin/env bash
# The macOS application's C++ compiles and links for macOS on this machine,
# for both architectures of the universal release: the project's own
# CMakeLists for Darwin, through cmake/macos-cross.cmake and the pinned zig,
# one architecture at a time, with the project's warnings as errors and
# libc++'s availability annotations on, the portable stand-ins in place of the
# .mm files, and the manifest generator built for this machine. llvm-lipo
# joins the two. Then the executable must be what a Mac loads: both
# architectures, each Mach-O with the deployment target as its minimum macOS
# and no library but libSystem; and the bundle must ask for the same macOS
# and carry its icon.
#
#   cross_build_test.sh SOURCE_DIR OUT_DIR TOOLCHAIN_DIR GENERATOR
#
# OUT_DIR/CorvelDriverInstaller is the result. TOOLCHAIN_DIR caches zig (and
# the libc++ it builds): only the first run needs the network.
set -euo pipefail
source_dir=$1
out_dir=$2
toolchain_dir=$3
generator=$4

readonly deployment_target=11.0
readonly architectures=(arm64 x86_64)

fail() {
  echo "macos_cross_build: $*" >&2
  exit 1
}

tool() {
  command -v "$1-14" || command -v "$1" || fail "$1 is missing (Debian package llvm-14; tools/setup-debian)"
}
objdump=$(tool llvm-objdump)
nm=$(tool llvm-nm)
lipo=$(tool llvm-lipo)

zig=$("$source_dir/tools/macos-toolchain" "$toolchain_dir")

# Configures and builds one architecture in OUT_DIR/ARCH; prints the path of
# its executable.
build_slice() {
  local slice=$1 build_dir=$out_dir/$1
  if ! cmake -S "$source_dir" -B "$build_dir" -G Ninja \
    "-DCMAKE_TOOLCHAIN_FILE=$source_dir/cmake/macos-cross.cmake" \
    "-DCORVEL_ZIG=$zig" "-DCORVEL_ZIG_CACHE=$toolchain_dir/zig-cache" \
    "-DCORVEL_CROSS_ARCH=$slice" "-DCMAKE_OSX_DEPLOYMENT_TARGET=$deployment_target" \
    "-DCORVEL_MANIFEST_GENERATOR=$generator" -DCORVEL_USE_MACOS_FRAMEWORKS=OFF \
    -DCORVEL_WARNINGS_AS_ERRORS=ON -DCORVEL_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release \
    >"$out_dir/$slice-configure.log" 2>&1; then
    cat "$out_dir/$slice-configure.log" >&2
    fail "configuring the $slice build failed"
  fi
  cmake --build "$build_dir" >&2 || fail "the $slice build failed"
  printf '%s\n' "$build_dir/CorvelDriverInstaller.app/Contents/MacOS/CorvelDriverInstaller"
}

# Checks one architecture of FILE from llvm-objdump's listing of its header
# and load commands.
check_slice() {
  local file=$1 slice=$2 listing
  listing=$("$objdump" --macho --private-headers "--arch=$slice" "$file") ||
    fail "$file: llvm-objdump cannot read its $slice code"

  local cputype filetype expected_cputype=ARM64
  [ "$slice" = x86_64 ] && expected_cputype=X86_64
  read -r _ cputype _ _ filetype _ < <(awk 'found { print; exit } $1 == "magic" { found = 1 }' <<<"$listing")
  [ "${cputype:-}" = "$expected_cputype" ] ||
    fail "$file ($slice): CPU type '${cputype:-}', expected $expected_cputype"
  [ "$filetype" = EXECUTE ] || fail "$file ($slice): file type '$filetype', expected EXECUTE"

  # "COMMAND FIELD VALUE", one line per field of each load command.
  local commands
  commands=$(awk '$1 == "cmd" { command = $2; next } command != "" && NF >= 2 { print command, $1, $2 }' \
    <<<"$listing")
  local platforms minimums
  platforms=$(awk '$1 == "LC_BUILD_VERSION" && $2 == "platform" { print $3 }' <<<"$commands")
  minimums=$(awk '$1 == "LC_BUILD_VERSION" && $2 == "minos" { print $3 }' <<<"$commands")
  [ "$platforms" = macos ] || fail "$file ($slice): build platform '$platforms', expected macos"
  [ "$minimums" = "$deployment_target" ] ||
    fail "$file ($slice): minimum macOS '$minimums', expected $deployment_target"

  # Every library the loader is asked for, in whatever form (weak, upward,
  # re-exported, lazy).
  local libraries
  libraries=$(awk '$1 ~ /^LC_.*DYLIB$/ && $1 != "LC_ID_DYLIB" && $2 == "name" { print $3 }' <<<"$commands")
  [ "$libraries" = /usr/lib/libSystem.B.dylib ] ||
    fail "$file ($slice): loads $(tr '\n' ' ' <<<"$libraries"); expected /usr/lib/libSystem.B.dylib alone"

  # The digest is CommonCrypto's, from libSystem, not a library built in.
  local undefined
  undefined=$("$nm" -u "--arch=$slice" "$file")
  grep -qx '_CC_SHA256_Init' <<<"$undefined" || fail "$file ($slice): does not call CommonCrypto's CC_SHA256_Init"
}

# The bundle's Info.plist must ask for the macOS the code was built for.
check_bundle() {
  local plist=$1 minimum
  minimum=$(sed -n '/<key>LSMinimumSystemVersion<\/key>/{n;s/.*<string>\(.*\)<\/string>.*/\1/p;}' "$plist")
  [ "$minimum" = "$deployment_target" ] ||
    fail "$plist: LSMinimumSystemVersion '$minimum', expected $deployment_target"
}

# The bundle names its icon, and the icon is in Resources as an icns file.
check_icon() {
  local contents=$1 icon
  icon=$(sed -n '/<key>CFBundleIconFile<\/key>/{n;s/.*<string>\(.*\)<\/string>.*/\1/p;}' "$contents/Info.plist")
  [ -n "$icon" ] || fail "$contents/Info.plist names no CFBundleIconFile"
  [ -f "$contents/Resources/$icon" ] || fail "$contents/Resources/$icon, the CFBundleIconFile, is missing"
  [ "$(head -c 4 "$contents/Resources/$icon")" = icns ] || fail "$contents/Resources/$icon is not an icns file"
}

mkdir -p "$out_dir"
slices=()
for arch in "${architectures[@]}"; do
  slice_file=$(build_slice "$arch")
  check_slice "$slice_file" "$arch"
  slices+=("$slice_file")
done
check_bundle "$out_dir/arm64/CorvelDriverInstaller.app/Contents/Info.plist"
check_icon "$out_dir/arm64/CorvelDriverInstaller.app/Contents"

universal=$out_dir/CorvelDriverInstaller
"$lipo" -create "${slices[@]}" -output "$universal" || fail "llvm-lipo could not join the slices"
read -r -a found <<<"$("$lipo" -archs "$universal")"
[ "$(printf '%s\n' "${found[@]}" | sort)" = "$(printf '%s\n' "${architectures[@]}" | sort)" ] ||
  fail "$universal holds ${found[*]}; expected ${architectures[*]}"
for arch in "${architectures[@]}"; do
  check_slice "$universal" "$arch"
done
echo "macos_cross_build: $universal: universal Mach-O executable (${architectures[*]}) for macOS" \
  "$deployment_target or later, each loading /usr/lib/libSystem.B.dylib alone"
