#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace corvel {

// Where the driver is installed. Every other path of the install location is
// derived from this one, so that the checks and the install script cannot
// disagree about it.
inline constexpr std::string_view kTargetPath = "/Library/Audio/Plug-Ins/HAL/Orlana2ch.driver";

// The driver bundle's name, both in the application's resources and at the
// install location.
inline constexpr std::string_view kPayloadName = kTargetPath.substr(kTargetPath.rfind('/') + 1);

// The system's folder of audio plug-ins, which holds the target; the root
// script keeps its lock and its temporary directory there too.
inline constexpr std::string_view kPlugInDirectory = kTargetPath.substr(0, kTargetPath.rfind('/'));

// Every prefix of `path` that names a directory, top down, then `path` itself:
// "/a/b" gives "/a", "/a/b".
template <std::size_t Count>
constexpr std::array<std::string_view, Count> prefixesOf(std::string_view path) {
  std::array<std::string_view, Count> prefixes{};
  std::size_t found = 0;
  for (std::size_t at = 1; at < path.size(); ++at) {
    if (path[at] == '/') prefixes[found++] = path.substr(0, at);
  }
  prefixes[found] = path;
  return prefixes;
}

// Every prefix of the target, top down, the target itself last. None of them
// may be a symbolic link: a link anywhere on the way would send root's writes
// somewhere else.
inline constexpr auto kGuardedPaths =
    prefixesOf<static_cast<std::size_t>(std::ranges::count(kTargetPath, '/'))>(kTargetPath);

// The path inside the bundle that stays executable once installed.
inline constexpr std::string_view kDriverExecutable = "Contents/MacOS/Orlana2ch";

}  // namespace corvel
