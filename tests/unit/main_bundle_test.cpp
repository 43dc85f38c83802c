#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "verify/main_bundle.h"

namespace corvel {
namespace {

TEST(ResourceDirectory, IsTheBundlesResourcesOrElseTheExecutablesDirectory) {
  const std::pair<const char*, const char*> cases[] = {
      {"/Applications/X.app/Contents/MacOS/X", "/Applications/X.app/Contents/Resources"},
      {"/a b/o'n \"q\\.app/Contents/MacOS/X", "/a b/o'n \"q\\.app/Contents/Resources"},
      {"/opt/tools/X", "/opt/tools"},
      {"/x/Contents/MacOS/X", "/x/Contents/MacOS"},
      {"/X.app/MacOS/X", "/X.app/MacOS"},
      {"/X.app/Other/MacOS/X", "/X.app/Other/MacOS"},
  };
  for (const auto& [executable, resources] : cases) {
    EXPECT_EQ(resourceDirectoryForExecutable(executable), resources) << executable;
  }
}

}  // namespace
}  // namespace corvel
