// Outside macOS the property list is read with libplist, which reads the XML
// and binary forms alike.

#include <plist/plist.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <type_traits>

#include "common/property_list.h"

namespace corvel {
namespace {

struct NodeRelease {
  void operator()(plist_t node) const { plist_free(node); }
};
using Node = std::unique_ptr<std::remove_pointer_t<plist_t>, NodeRelease>;

Node parsed(std::string_view data) {
  if (data.empty() || data.size() > std::numeric_limits<std::uint32_t>::max()) return nullptr;
  plist_t root = nullptr;
  plist_from_memory(data.data(), static_cast<std::uint32_t>(data.size()), &root);
  return Node(root);
}

}  // namespace

std::optional<std::string> topLevelPropertyListString(std::string_view data, std::string_view key) {
  const Node root = parsed(data);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return std::nullopt;
  // Owned by the dictionary.
  const plist_t value = plist_dict_get_item(root.get(), std::string(key).c_str());
  if (value == nullptr || plist_get_node_type(value) != PLIST_STRING) return std::nullopt;
  std::uint64_t length = 0;
  const char* text = plist_get_string_ptr(value, &length);
  if (text == nullptr) return std::nullopt;
  return std::string(text, length);
}

}  // namespace corvel
