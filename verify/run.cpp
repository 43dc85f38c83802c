#include "verify/run.h"

#include <cstdint>

#include "common/install_failure.h"
#include "common/utf8.h"
#include "verify/child_process.h"
#include "verify/messages.h"

namespace corvel {
namespace {

bool isWhiteSpaceOrNewline(std::uint32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

}  // namespace

std::string run(const std::string& executable, const std::vector<std::string>& arguments) {
  const ChildOutcome outcome = runChild(executable, arguments, ErrorStream::intoOutput);
  if (!exitedCleanly(outcome.waitStatus)) throw InstallFailure(std::string(kIntegrityMessage));
  return decodedAndTrimmed(outcome.output);
}

std::string decodedAndTrimmed(const std::string& bytes) {
  const std::u32string text = decodedUtf8(bytes);

  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && isWhiteSpaceOrNewline(text[first])) ++first;
  while (last > first && isWhiteSpaceOrNewline(text[last - 1])) --last;

  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = first; i < last; ++i) appendUtf8(out, text[i]);
  return out;
}

}  // namespace corvel
