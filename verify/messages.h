#pragma once

#include <string_view>

namespace corvel {

// The payload verification's user-facing sentences, fixed in the program.
inline constexpr std::string_view kIntegrityMessage = "安装文件未通过完整性检查。请重新下载完整安装包。";
inline constexpr std::string_view kUnsupportedPlatformMessage =
    "此安装包需要 Apple 芯片 Mac 和 macOS 14 或更新版本。";
inline constexpr std::string_view kNoResourcesMessage = "安装包不完整，请重新下载。";
inline constexpr std::string_view kInvalidPayloadMessage = "安装文件无效，请重新下载完整安装包。";
inline constexpr std::string_view kUnsupportedEntryMessage = "安装文件包含不支持的文件类型，请重新下载。";
inline constexpr std::string_view kDigestMismatchMessage = "安装文件的校验值不符，请重新下载完整安装包。";

}  // namespace corvel
