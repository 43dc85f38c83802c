// Outside macOS an alert is written to standard output and answered on
// standard input: "1" chooses the first button, "2" the second, and so on; an
// empty line chooses the only button of a one-button alert; anything else
// asks again. The end of input closes the alert without choosing a button.

#include <unistd.h>

#include <optional>

#include "app/alert.h"
#include "app/console_output.h"
#include "common/system_calls.h"

namespace corvel {
namespace {

// What a closed alert answers when no button was chosen.
constexpr long kNoButtonResponse = -1001;

// One line of standard input without its line feed, read a byte at a time so
// that nothing after it is taken from programs that read the same input
// later; none at the end of input.
std::optional<std::string> readLine() {
  std::string line;
  for (;;) {
    char c = 0;
    const ssize_t n = retryingInterrupted([&] { return systemCalls().read(STDIN_FILENO, &c, 1); });
    if (n <= 0) return line.empty() ? std::nullopt : std::optional<std::string>(line);
    if (c == '\n') return line;
    line += c;
  }
}

std::optional<long> chosenButton(const std::string& answer, std::size_t buttons) {
  if (answer.empty()) return buttons == 1 ? std::optional<long>(0) : std::nullopt;
  for (std::size_t i = 0; i < buttons; ++i) {
    if (answer == std::to_string(i + 1)) return static_cast<long>(i);
  }
  return std::nullopt;
}

class ConsoleAlerts final : public Alerts {
 public:
  long present(const std::string& title, const std::string& message,
               const std::vector<std::string>& buttons) override {
    std::string text = title + "\n" + message + "\n";
    for (std::size_t i = 0; i < buttons.size(); ++i) {
      text += std::to_string(i + 1) + ". " + buttons[i] + "\n";
    }
    if (!show(text)) return kNoButtonResponse;
    for (;;) {
      const auto answer = readLine();
      if (!answer) return kNoButtonResponse;
      if (const auto button = chosenButton(*answer, buttons.size())) {
        return kFirstButtonResponse + *button;
      }
    }
  }

 private:
  static bool show(const std::string& text) {
    try {
      writeAll(STDOUT_FILENO, text);
      return true;
    } catch (...) {
      return false;  // an alert that cannot be shown closes unanswered
    }
  }
};

}  // namespace

Alerts& systemAlerts() {
  static ConsoleAlerts alerts;
  return alerts;
}

}  // namespace corvel
