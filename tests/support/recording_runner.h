#pragma once

#include <functional>
#include <string>
#include <vector>

#include "verify/run.h"

namespace corvel::testing {

// Stands in for the programs that `run` starts: records each call (the path,
// then the arguments) and answers with `answer`, which may throw.
struct RecordingRunner {
  std::function<std::string()> answer = [] { return std::string(); };
  std::vector<std::vector<std::string>> calls;

  Runner runner() {
    return [this](const std::string& path, const std::vector<std::string>& arguments) {
      std::vector<std::string> call = {path};
      call.insert(call.end(), arguments.begin(), arguments.end());
      calls.push_back(call);
      return answer();
    };
  }
};

}  // namespace corvel::testing
