# Toolchain file: builds the installer for macOS on Linux with the pinned zig
# (tools/macos-toolchain), one architecture at a time, so that the macOS
# sources compile and link for the deployment target here and in CI
# (tests/macos/cross_build_test.sh). The release is built on a Mac with
# Apple's compiler (the macos preset); this is a check, not a release build.
#
#   -DCORVEL_ZIG=PATH                     the zig executable (required)
#   -DCORVEL_ZIG_CACHE=DIR                zig's cache, with the libc++ it builds
#                                         (default: zig-cache beside the toolchain)
#   -DCORVEL_CROSS_ARCH=arm64|x86_64      the architecture (default arm64)
#   -DCMAKE_OSX_DEPLOYMENT_TARGET=11.0    the oldest macOS to run on (the project
#                                         sets 11.0 unless told otherwise)
#   -DCORVEL_MANIFEST_GENERATOR=PATH      a generate_manifest built for this machine
#
# zig ships no Foundation or AppKit headers: configure with
# CORVEL_USE_MACOS_FRAMEWORKS=OFF, which builds the portable stand-ins in place
# of the .mm files (tests/objc checks those against GNUstep instead).

set(CMAKE_SYSTEM_NAME Darwin)
# The variables the try_compile projects of the compiler checks need too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
  CORVEL_ZIG CORVEL_ZIG_CACHE CORVEL_CROSS_ARCH CMAKE_OSX_DEPLOYMENT_TARGET)

if(NOT CORVEL_ZIG OR NOT EXISTS "${CORVEL_ZIG}")
  message(FATAL_ERROR "CORVEL_ZIG must name the zig executable (tools/macos-toolchain prints it); "
    "it is '${CORVEL_ZIG}'")
endif()
if(NOT CMAKE_OSX_DEPLOYMENT_TARGET MATCHES "^[0-9]+\\.[0-9]+$")
  message(FATAL_ERROR "CMAKE_OSX_DEPLOYMENT_TARGET must be a macOS version such as 11.0; "
    "it is '${CMAKE_OSX_DEPLOYMENT_TARGET}'")
endif()
if(NOT CORVEL_CROSS_ARCH)
  set(CORVEL_CROSS_ARCH arm64)
endif()
if(CORVEL_CROSS_ARCH STREQUAL "arm64")
  set(zig_arch aarch64)
elseif(CORVEL_CROSS_ARCH STREQUAL "x86_64")
  set(zig_arch x86_64)
else()
  message(FATAL_ERROR "CORVEL_CROSS_ARCH must be arm64 or x86_64; it is '${CORVEL_CROSS_ARCH}'")
endif()
if(NOT CORVEL_ZIG_CACHE)
  get_filename_component(zig_package "${CORVEL_ZIG}" DIRECTORY)
  get_filename_component(CORVEL_ZIG_CACHE "${zig_package}/../../../zig-cache" ABSOLUTE)
endif()
set(CMAKE_SYSTEM_PROCESSOR "${CORVEL_CROSS_ARCH}")

# zig-c++ turns the -mmacosx-version-min that CMake passes for
# CMAKE_OSX_DEPLOYMENT_TARGET into zig's target.
set(CMAKE_CXX_COMPILER "${CMAKE_CURRENT_LIST_DIR}/zig-c++" "${CORVEL_ZIG}" "${CORVEL_ZIG_CACHE}"
  "${zig_arch}")
find_program(CMAKE_AR NAMES llvm-ar-14 llvm-ar REQUIRED)
find_program(CMAKE_RANLIB NAMES llvm-ranlib-14 llvm-ranlib REQUIRED)

# zig builds with libc++'s availability annotations off (it links its own
# libc++ statically). A Mac's program uses the system's libc++, so turn them
# back on: a library feature newer than the deployment target is then an
# error here, as with Apple's SDK. -Wunguarded-availability (set for every
# Apple build in CMakeLists.txt) does the same for the C library's calls.
set(CMAKE_CXX_FLAGS_INIT "-U_LIBCPP_HAS_NO_VENDOR_AVAILABILITY_ANNOTATIONS")

# Nothing of the build machine's own headers or libraries.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
