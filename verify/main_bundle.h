#pragma once

#include <optional>
#include <string>

namespace corvel {

// The absolute path of the application's resource directory, as the main
// bundle reports it; none when the application has none.
std::optional<std::string> mainBundleResourceDirectory();

// Where there is no NSBundle (the POSIX side), the resource directory of a
// running executable at the real path `executable`:
// "NAME.app/Contents/Resources" when it stands in "NAME.app/Contents/MacOS/",
// otherwise the executable's own directory.
std::string resourceDirectoryForExecutable(const std::string& executable);

}  // namespace corvel
