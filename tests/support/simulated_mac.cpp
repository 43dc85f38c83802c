#include "tests/support/simulated_mac.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "verify/build_manifest.h"
#include "verify/file_digest.h"

extern char** environ;

namespace corvel::testing {
namespace fs = std::filesystem;

namespace {

void copyPreserving(const fs::path& from, const fs::path& to) {
  fs::create_directories(to.parent_path());
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

void makeWorldReadablePath(const fs::path& path) {
  for (fs::path at = path; at != at.root_path() && !at.empty(); at = at.parent_path()) {
    if (fs::exists(at)) fs::permissions(at, fs::perms(0755), fs::perm_options::add);
  }
}

// Throws, naming the step, when a posix_spawn function returned an error number.
void check(int error, const std::string& step) {
  if (error != 0) throw std::runtime_error(step + ": " + std::strerror(error));
}

// posix_spawn's file actions, released however the run ends.
class FileActions {
 public:
  FileActions() { check(posix_spawn_file_actions_init(&actions_), "posix_spawn_file_actions_init"); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;

  void open(int descriptor, const fs::path& path, int flags) {
    check(posix_spawn_file_actions_addopen(&actions_, descriptor, path.c_str(), flags, 0644),
          "posix_spawn_file_actions_addopen " + path.string());
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
};

// The child's wait status; only an interrupted wait is retried.
int waitFor(pid_t child) {
  int waitStatus = 0;
  while (::waitpid(child, &waitStatus, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error(std::string("waitpid: ") + std::strerror(errno));
  }
  return waitStatus;
}

int statusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return -1;
}

}  // namespace

SimulatedMac::SimulatedMac() : disk_(scratch_.path() / "mac") {
  fs::create_directories(disk_ / "Library");
  fs::permissions(disk_ / "Library", fs::perms(0755));
  copyPreserving(CORVEL_BUNDLE_DIR, onDisk(application_));
}

void SimulatedMac::moveApplication(const std::string& macPath) {
  fs::create_directories(onDisk(macPath).parent_path());
  fs::rename(onDisk(application_), onDisk(macPath));
  makeWorldReadablePath(onDisk(macPath).parent_path());
  application_ = macPath;
}

RunResult SimulatedMac::run(const std::vector<std::string>& command, const MacSettings& settings,
                            const std::string& input) const {
  std::vector<std::string> argv = {std::string(CORVEL_SOURCE_DIR) + "/tools/simmac",
                                   "--mac",
                                   disk_.string(),
                                   "--requirement",
                                   CORVEL_REQUIREMENT_FILE,
                                   "--machine",
                                   settings.machine,
                                   "--codesign",
                                   settings.codesignRefuses ? "refuse" : "accept",
                                   "--sudo",
                                   settings.sudoRefuses ? "refuse" : "accept",
                                   "--sh",
                                   settings.shell};
  if (settings.macosVersion) {
    argv.insert(argv.end(), {"--macos", *settings.macosVersion});
  } else {
    argv.push_back("--no-system-version");
  }
  if (settings.unameFails) argv.push_back("--uname-fails");
  if (!settings.missingTool.empty()) argv.insert(argv.end(), {"--missing", settings.missingTool});
  if (settings.user) argv.insert(argv.end(), {"--user", std::to_string(*settings.user)});
  for (const auto& [name, value] : settings.environment) argv.insert(argv.end(), {"--setenv", name, value});
  if (!settings.volume.empty()) argv.insert(argv.end(), {"--volume", settings.volume});
  const fs::path io = scratch_.path() / "io";
  fs::create_directories(io);
  if (!settings.duringCopy.empty()) {
    writeFile(io / "during-copy", settings.duringCopy);
    argv.insert(argv.end(), {"--during-copy", (io / "during-copy").string()});
  }
  for (const auto& [tool, hook] : settings.before) {
    const fs::path file = io / ("before-" + tool);
    writeFile(file, hook);
    argv.insert(argv.end(), {"--before", tool, file.string()});
  }
  argv.push_back("--");
  argv.insert(argv.end(), command.begin(), command.end());

  writeFile(io / "in", input);
  FileActions actions;
  actions.open(0, io / "in", O_RDONLY);
  actions.open(1, io / "out", O_WRONLY | O_CREAT | O_TRUNC);
  actions.open(2, io / "err", O_WRONLY | O_CREAT | O_TRUNC);
  std::vector<char*> raw;
  for (const std::string& word : argv) raw.push_back(const_cast<char*>(word.c_str()));
  raw.push_back(nullptr);
  pid_t child = -1;
  check(posix_spawn(&child, raw[0], actions.get(), nullptr, raw.data(), environ),
        "cannot start tools/simmac");
  const int waitStatus = waitFor(child);
  return {readFile(io / "out"), readFile(io / "err"), statusOf(waitStatus)};
}

RunResult SimulatedMac::runInstaller(const std::vector<std::string>& arguments, MacSettings settings,
                                     const std::string& input) const {
  std::vector<std::string> command = {executable()};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return run(command, settings, input);
}

RunResult SimulatedMac::runAsRoot(const std::string& script, const MacSettings& settings) const {
  return run({"/bin/sh", "-c", script}, settings);
}

std::vector<std::vector<std::string>> SimulatedMac::calls() const {
  std::vector<std::vector<std::string>> calls;
  std::istringstream log(readFile(disk_ / ".simmac/calls.log"));
  for (std::string line; std::getline(log, line);) {
    std::vector<std::string> call;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) call.push_back(field);
    calls.push_back(call);
  }
  return calls;
}

std::vector<std::vector<std::string>> SimulatedMac::callsOf(const std::string& tool) const {
  auto all = calls();
  all.erase(std::remove_if(all.begin(), all.end(), [&](const auto& call) { return call.front() != tool; }),
            all.end());
  return all;
}

std::vector<std::string> SimulatedMacTest::halEntries() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(hal())) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void SimulatedMacTest::expectInstalledTree() const {
  const std::vector<std::string> expected = {
      "0:0 755 Orlana2ch.driver",
      "0:0 755 Orlana2ch.driver/Contents",
      "0:0 644 Orlana2ch.driver/Contents/Info.plist",
      "0:0 755 Orlana2ch.driver/Contents/MacOS",
      "0:0 755 Orlana2ch.driver/Contents/MacOS/Orlana2ch",
      "0:0 755 Orlana2ch.driver/Contents/Resources",
      "0:0 644 Orlana2ch.driver/Contents/Resources/CHANGELOG.md",
      "0:0 644 Orlana2ch.driver/Contents/Resources/LICENSE",
      "0:0 644 Orlana2ch.driver/Contents/Resources/Nightwell.icns",
      "0:0 644 Orlana2ch.driver/Contents/Resources/README.md",
      "0:0 644 Orlana2ch.driver/Contents/Resources/VERSION",
      "0:0 755 Orlana2ch.driver/Contents/_CodeSignature",
      "0:0 644 Orlana2ch.driver/Contents/_CodeSignature/CodeResources",
  };
  EXPECT_EQ(treeListing(target()), expected);
  for (const auto& [path, digest] : BuildManifest::files()) {
    EXPECT_EQ(fileDigest((target() / path).string()), digest) << path;
  }
  EXPECT_EQ(halEntries(), std::vector<std::string>{"Orlana2ch.driver"});
}

void expectRun(const RunResult& result, const std::string& out, const std::string& err, int status) {
  EXPECT_EQ(result.out, out);
  EXPECT_EQ(result.err, err);
  EXPECT_EQ(result.status, status);
}

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void expectGuardFailed(const RunResult& result) {
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(endsWith(result.err, "CORVEL_DRIVER_CHECK_FAILED\n")) << result.err;
}

MacSettings settingsWith(const std::function<void(MacSettings&)>& change) {
  MacSettings settings;
  change(settings);
  return settings;
}

std::vector<std::string> treeListing(const fs::path& root) {
  std::vector<std::string> lines;
  const auto describe = [&](const fs::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) throw std::runtime_error("cannot stat " + path.string());
    std::ostringstream line;
    line << status.st_uid << ":" << status.st_gid << " " << std::oct << (status.st_mode & 07777) << " "
         << path.lexically_relative(root.parent_path()).string();
    lines.push_back(line.str());
  };
  describe(root);
  std::vector<fs::path> paths;
  for (const auto& entry : fs::recursive_directory_iterator(root)) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  for (const fs::path& path : paths) describe(path);
  return lines;
}

}  // namespace corvel::testing
