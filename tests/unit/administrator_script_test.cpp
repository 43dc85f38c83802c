#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "app/administrator_script.h"

namespace corvel {
namespace {

TEST(AppleScriptEscaping, DoublesBackslashesThenEscapesQuotes) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain\ntext $HOME 'q' 中文", "plain\ntext $HOME 'q' 中文"},
      {"a\\\"b", "a\\\\\\\"b"},  // backslash, quote -> three backslashes, quote
      {"\"", "\\\""},
      {"\\", "\\\\"},
      {"\\\\", "\\\\\\\\"},
      {"", ""},
  };
  for (const auto& [script, escaped] : cases) EXPECT_EQ(appleScriptEscaped(script), escaped) << script;
  EXPECT_EQ(administratorAppleScript("say \"hi\""),
            "do shell script \"say \\\"hi\\\"\" with administrator privileges");
}

// What the flow writes, the stand-in for the prompt reads back unchanged.
TEST(AppleScriptEscaping, ReadsBackAsTheScriptItWasMadeFrom) {
  for (const char* script : {"", "plain", "a\\\"b", "\"\"", "\\", "line\nfeed $HOME 'q' `x` 中文", "\\n"}) {
    EXPECT_EQ(shellScriptOf(administratorAppleScript(script)), script) << script;
  }
}

// Outside macOS the privileged run is the sudo prompt; these tests run as
// root, where it runs the shell directly. (The simulated Mac's tests run it as
// a user, through sudo.)
class SudoAdministratorScripts : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "runs the shell as root only when root";
  }
  std::optional<ScriptOutcome> execute(const std::string& source) {
    return systemAdministratorScripts().execute(source);
  }
};

TEST_F(SudoAdministratorScripts, RunsTheLiteralAndGivesOutputAsDoShellScriptDoes) {
  const auto outcome = execute(administratorAppleScript("printf 'a\\nb\\n\\n'; echo err >&2"));
  ASSERT_TRUE(outcome);
  EXPECT_FALSE(outcome->failed);
  EXPECT_EQ(outcome->resultText, "a\rb\r");
}

TEST_F(SudoAdministratorScripts, ReadsAppleScriptEscapesBackToTheScript) {
  const std::string script = "printf '%s' \"back\\\\slash \\\"quoted\\\"\"";
  const auto outcome = execute(administratorAppleScript(script));
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->resultText, "back\\slash \"quoted\"");
}

TEST_F(SudoAdministratorScripts, ANonZeroStatusIsTheErrorNumber) {
  const auto outcome = execute(administratorAppleScript("echo CORVEL_DRIVER_CHECK_FAILED >&2; exit 1"));
  ASSERT_TRUE(outcome);
  EXPECT_TRUE(outcome->failed);
  EXPECT_EQ(outcome->errorNumber, 1);
  const auto other = execute(administratorAppleScript("exit 143"));
  EXPECT_EQ(other->errorNumber, 143);
}

TEST_F(SudoAdministratorScripts, StartsTheShellWithTheCleanEnvironmentAlone) {
  const std::string path = std::getenv("PATH");
  ASSERT_EQ(::setenv("BASH_ENV", "/Users/mallory/rc", 1), 0);
  ASSERT_EQ(::setenv("PATH", "/Users/mallory/bin:/usr/bin:/bin", 1), 0);
  // What the shell was started with, before it set anything itself.
  const auto outcome = execute(administratorAppleScript("/usr/bin/tr '\\0' '\\n' < /proc/$$/environ"));
  ASSERT_EQ(::unsetenv("BASH_ENV"), 0);
  ASSERT_EQ(::setenv("PATH", path.c_str(), 1), 0);
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->resultText, "PATH=/usr/bin:/bin:/usr/sbin:/sbin");
}

TEST_F(SudoAdministratorScripts, GivesNoObjectForAnyOtherSource) {
  for (const char* source : {
           "do shell script \"echo\"",
           "do shell script \"echo\" with administrator privileges and more",
           "display dialog \"x\" with administrator privileges",
           "do shell script \"a\"b\" with administrator privileges",
           "do shell script \"a\\\" with administrator privileges",
           "do shell script \"a\\q\" with administrator privileges",
           "",
       }) {
    EXPECT_FALSE(execute(source).has_value()) << source;
  }
}

}  // namespace
}  // namespace corvel
