#pragma once

#include <functional>
#include <string>
#include <vector>

namespace corvel {

// Runs the program at the absolute path `executable` with `arguments`, waits
// for it, and returns what it wrote to standard output and standard error, in
// the order written, decoded as UTF-8 and trimmed. A program that cannot be
// started is the platform's error; one that ends with any status but 0 is the
// integrity InstallFailure, whatever it printed.
std::string run(const std::string& executable, const std::vector<std::string>& arguments);

// How the checks reach `run`, so that tests can stand in for the programs.
using Runner = std::function<std::string(const std::string&, const std::vector<std::string>&)>;

// Output bytes as text: ill-formed UTF-8 becomes U+FFFD (one per maximal
// ill-formed subpart), then white space and line breaks are trimmed from
// both ends (Unicode Zs, Zl, Zp, U+0009 to U+000D and U+0085).
std::string decodedAndTrimmed(const std::string& bytes);

}  // namespace corvel
