// Build step: derives the installer's manifest from the payload bundle that
// ships inside it, and stops the build when that bundle is not what the
// installer can accept.
//
//   generate_manifest PAYLOAD_DIR HEADER_OUT REQUIREMENT_OUT
//
// HEADER_OUT receives the eight digests and the bundle identifier;
// REQUIREMENT_OUT the signing requirement as one line, for the development
// tools. A file is rewritten only when its text changes, so an unchanged
// payload rebuilds nothing.

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>

#include "common/property_list.h"
#include "verify/build_manifest.h"
#include "verify/file_digest.h"
#include "verify/signature_requirement.h"

namespace fs = std::filesystem;

namespace {

constexpr std::array<const char*, 8> kExpectedFiles = {
    "Contents/Info.plist",
    "Contents/MacOS/Orlana2ch",
    "Contents/Resources/CHANGELOG.md",
    "Contents/Resources/LICENSE",
    "Contents/Resources/Nightwell.icns",
    "Contents/Resources/README.md",
    "Contents/Resources/VERSION",
    "Contents/_CodeSignature/CodeResources",
};

[[noreturn]] void refuse(const std::string& why) { throw std::runtime_error(why); }

std::map<std::string, std::string> digestsOf(const fs::path& payload) {
  if (fs::is_symlink(payload) || !fs::is_directory(payload)) {
    refuse(payload.string() + " is not a directory");
  }
  std::map<std::string, std::string> digests;
  for (const auto& entry : fs::recursive_directory_iterator(payload)) {
    const fs::file_status status = entry.symlink_status();
    const std::string relative = entry.path().lexically_relative(payload).generic_string();
    if (fs::is_directory(status)) continue;
    if (!fs::is_regular_file(status)) {
      refuse(relative +
             " is neither a directory nor a regular file; the payload may hold "
             "nothing else");
    }
    digests.emplace(relative, corvel::fileDigest(entry.path().string()));
  }
  return digests;
}

void requireExpectedFiles(const std::map<std::string, std::string>& digests) {
  std::string problems;
  for (const char* expected : kExpectedFiles) {
    if (digests.count(expected) == 0) problems += "\n  missing: " + std::string(expected);
  }
  for (const auto& [path, digest] : digests) {
    if (std::find(kExpectedFiles.begin(), kExpectedFiles.end(), path) == kExpectedFiles.end()) {
      problems += "\n  not expected: " + path;
    }
  }
  if (!problems.empty()) refuse("the payload's regular files are not the expected eight:" + problems);
}

bool isBundleIdentifier(const std::string& text) {
  return !text.empty() && text.find('.') != std::string::npos &&
         std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '-';
         });
}

std::string bundleIdentifierOf(const fs::path& payload) {
  const fs::path plist = payload / "Contents/Info.plist";
  std::ifstream in(plist, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const auto identifier = corvel::topLevelPropertyListString(text.str(), "CFBundleIdentifier");
  if (!in || !identifier) refuse("no CFBundleIdentifier can be read from " + plist.string());
  if (!isBundleIdentifier(*identifier)) {
    refuse("the CFBundleIdentifier \"" + *identifier + "\" in " + plist.string() +
           " is not a reverse-DNS name (letters, digits, '-' and '.')");
  }
  return *identifier;
}

std::string headerText(const std::map<std::string, std::string>& digests, const std::string& identifier) {
  std::string text =
      "// Generated from the payload bundle at build time. Do not edit.\n"
      "#pragma once\n\n#include <array>\n#include <string_view>\n#include <utility>\n\n"
      "namespace corvel::generated {\n\n"
      "inline constexpr std::array<std::pair<std::string_view, std::string_view>, " +
      std::to_string(digests.size()) + "> kManifestFiles = {{\n";
  for (const auto& [path, digest] : digests) {
    text += "    {\"" + path + "\", \"" + digest + "\"},\n";
  }
  text += "}};\n\ninline constexpr std::string_view kBundleIdentifier = \"" + identifier +
          "\";\n\n}  // namespace corvel::generated\n";
  return text;
}

void writeIfChanged(const fs::path& file, const std::string& text) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream current;
  current << in.rdbuf();
  if (in && current.str() == text) return;
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) refuse("cannot write " + file.string());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: generate_manifest PAYLOAD_DIR HEADER_OUT REQUIREMENT_OUT\n";
    return 2;
  }
  const fs::path payload = argv[1];
  try {
    const auto digests = digestsOf(payload);
    requireExpectedFiles(digests);
    const std::string identifier = bundleIdentifierOf(payload);
    writeIfChanged(argv[2], headerText(digests, identifier));
    writeIfChanged(argv[3],
                   corvel::signatureRequirementFor(corvel::BuildManifest::teamIdentifier, identifier) + "\n");
  } catch (const std::exception& error) {
    std::cerr << "generate_manifest: cannot build the manifest of " << payload.string() << ": "
              << error.what() << "\n";
    return 1;
  }
  return 0;
}
