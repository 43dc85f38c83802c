// On macOS the property list is read by CoreFoundation, as the system reads
// a bundle's Info.plist.

#include <CoreFoundation/CoreFoundation.h>

#include <memory>
#include <type_traits>

#include "common/property_list.h"

namespace corvel {
namespace {

struct Release {
  void operator()(CFTypeRef object) const { CFRelease(object); }
};
template <typename Ref>
using Owned = std::unique_ptr<std::remove_pointer_t<Ref>, Release>;

const UInt8* bytesOf(std::string_view text) { return reinterpret_cast<const UInt8*>(text.data()); }

// The whole string as UTF-8; absent when it cannot all be converted (an
// unpaired surrogate).
std::optional<std::string> utf8Of(CFStringRef string) {
  const CFRange whole = CFRangeMake(0, CFStringGetLength(string));
  CFIndex size = 0;
  if (CFStringGetBytes(string, whole, kCFStringEncodingUTF8, 0, false, nullptr, 0, &size) != whole.length) {
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(size), '\0');
  CFStringGetBytes(string, whole, kCFStringEncodingUTF8, 0, false, reinterpret_cast<UInt8*>(text.data()),
                   size, nullptr);
  return text;
}

}  // namespace

std::optional<std::string> topLevelPropertyListString(std::string_view data, std::string_view key) {
  const Owned<CFDataRef> bytes(CFDataCreateWithBytesNoCopy(
      kCFAllocatorDefault, bytesOf(data), static_cast<CFIndex>(data.size()), kCFAllocatorNull));
  if (!bytes) return std::nullopt;
  const Owned<CFPropertyListRef> root(CFPropertyListCreateWithData(
      kCFAllocatorDefault, bytes.get(), kCFPropertyListImmutable, nullptr, nullptr));
  if (!root || CFGetTypeID(root.get()) != CFDictionaryGetTypeID()) return std::nullopt;
  const Owned<CFStringRef> name(CFStringCreateWithBytes(
      kCFAllocatorDefault, bytesOf(key), static_cast<CFIndex>(key.size()), kCFStringEncodingUTF8, false));
  if (!name) return std::nullopt;
  // Owned by the dictionary.
  const CFTypeRef value = CFDictionaryGetValue(static_cast<CFDictionaryRef>(root.get()), name.get());
  if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) return std::nullopt;
  return utf8Of(static_cast<CFStringRef>(value));
}

}  // namespace corvel
