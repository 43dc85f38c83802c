#pragma once

#include <array>
#include <string_view>

namespace corvel {

// The driver bundle's name, both in the application's resources and at the
// install location.
inline constexpr std::string_view kPayloadName = "Orlana2ch.driver";

// Where the driver is installed. The root script embeds the same literal.
inline constexpr std::string_view kTargetPath = "/Library/Audio/Plug-Ins/HAL/Orlana2ch.driver";

// Every prefix of the target, top down, the target itself last. None of them
// may be a symbolic link: a link anywhere on the way would send root's writes
// somewhere else.
inline constexpr std::array<std::string_view, 5> kGuardedPaths = {
    "/Library", "/Library/Audio", "/Library/Audio/Plug-Ins", "/Library/Audio/Plug-Ins/HAL", kTargetPath,
};

// The path inside the bundle that stays executable once installed.
inline constexpr std::string_view kDriverExecutable = "Contents/MacOS/Orlana2ch";

}  // namespace corvel
