// The stand-ins of the simulated Mac answer as the macOS tools do for the
// forms the installer and its install script use, and refuse every other form,
// so that a change in how a tool is called fails loudly instead of passing.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/simulated_mac.h"

namespace corvel {
namespace {
namespace fs = std::filesystem;
using testing::MacSettings;
using testing::RunResult;
using testing::SimulatedMac;

using SimulatedMacTools = testing::SimulatedMacTest;

TEST_F(SimulatedMacTools, AnswerTheFormsInUse) {
  fs::create_directories(mac.onDisk("/Library/Audio"));
  fs::permissions(mac.onDisk("/Library/Audio"), fs::perms(02750));
  fs::create_directory_symlink("Audio", mac.onDisk("/Library/Link"));
  MacSettings settings;
  settings.macosVersion = "14.6.1";
  settings.machine = "arm64";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"/usr/bin/uname", "-m"}, "arm64\n"},
      {{"/usr/bin/sw_vers", "-productVersion"}, "14.6.1\n"},
      {{"/usr/bin/stat", "-f", "%u", "/Library/Audio"}, "0\n"},
      {{"/usr/bin/stat", "-f", "%Lp", "/Library/Audio"}, "750\n"},
      // The link's own owner and mode, as root makes it on a Mac.
      {{"/usr/bin/stat", "-f", "%u", "/Library/Link"}, "0\n"},
      {{"/usr/bin/stat", "-f", "%Lp", "/Library/Link"}, "755\n"},
  };
  for (const auto& [command, out] : cases) {
    const RunResult result = mac.run(command, settings);
    EXPECT_EQ(result.out, out) << command[0] << " " << result.err;
    EXPECT_EQ(result.status, 0) << command[0];
  }
  EXPECT_EQ(mac.calls(), (std::vector<std::vector<std::string>>{{"stat", "-f", "%Lp", "/Library/Link"}}));
}

// What a copy holds, one line an entry in path order: a directory as
// "NAME/ MODE UID:GID", a file as "NAME MODE UID:GID CONTENTS" (with its
// number of links when it has several), a link as "NAME -> TARGET", a
// device as "NAME device MODE UID:GID". Modes in octal.
std::vector<std::string> copyListing(const fs::path& root) {
  std::vector<fs::path> paths;
  for (const auto& entry : fs::recursive_directory_iterator(root)) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  std::vector<std::string> lines;
  for (const fs::path& path : paths) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) throw std::runtime_error("cannot stat " + path.string());
    const std::string name = path.lexically_relative(root).string();
    std::ostringstream owner;
    owner << std::oct << (status.st_mode & 07777) << std::dec << " " << status.st_uid << ":" << status.st_gid;
    if (S_ISDIR(status.st_mode)) {
      lines.push_back(name + "/ " + owner.str());
    } else if (S_ISREG(status.st_mode)) {
      lines.push_back(name + " " + owner.str() + " " + testing::readFile(path) +
                      (status.st_nlink > 1 ? " (" + std::to_string(status.st_nlink) + " links)" : ""));
    } else if (S_ISLNK(status.st_mode)) {
      lines.push_back(name + " -> " + fs::read_symlink(path).string());
    } else {
      lines.push_back(name + " device " + owner.str());
    }
  }
  return lines;
}

void makeFile(const fs::path& path, const std::string& contents, fs::perms mode, uid_t user = 0) {
  testing::writeFile(path, contents);
  ASSERT_EQ(::lchown(path.c_str(), user, user == 0 ? 0 : 20), 0);
  fs::permissions(path, mode);
}

void makeDirectory(const fs::path& path, fs::perms mode, uid_t user = 0) {
  fs::create_directories(path);
  ASSERT_EQ(::lchown(path.c_str(), user, user == 0 ? 0 : 20), 0);
  fs::permissions(path, mode);
}

const std::time_t kLongAgo = 1000000000;  // 9 September 2001

void setModificationTime(const fs::path& path, std::time_t time) {
  const struct timespec times[2] = {{time, 0}, {time, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

std::time_t modificationTime(const fs::path& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) throw std::runtime_error("cannot stat " + path.string());
  return status.st_mtime;
}

struct DittoCase {
  const char* name;
  // Makes the source tree in FROM (an empty directory, mode 755) and
  // whatever should already be in TO (nothing there yet); host paths.
  std::function<void(const fs::path& from, const fs::path& to)> arrange;
  int status = 0;
  std::vector<std::string> copy = {};  // copyListing of the destination afterwards, if any
  std::function<void(const fs::path& to)> check = nullptr;  // anything else to look at in TO
  MacSettings settings = {};
  std::string source = "/Users/Shared/from";
  std::string destination = "/Users/Shared/to";
};

// ditto as macOS's manual page describes it, on the install script's form.
TEST_F(SimulatedMacTools, DittoCopiesAsTheManualPageSays) {
  MacSettings user;
  user.user = 501;
  MacSettings smallDisk;
  smallDisk.volume = "/Volumes/Small:16384";
  const DittoCase cases[] = {
      {.name = "a tree, as root: modes, owners, set-ID bits and contents",
       .arrange =
           [](const fs::path& from, const fs::path&) {
             makeDirectory(from / "sub", fs::perms(02750), 501);
             makeFile(from / "sub/run", "x", fs::perms(04755), 501);
             makeFile(from / "top", "y", fs::perms(0600));
             setModificationTime(from / "top", kLongAgo);
           },
       .copy = {"sub/ 2750 501:20", "sub/run 4755 501:20 x", "top 600 0:0 y"},
       .check = [](const fs::path& to) { EXPECT_EQ(modificationTime(to / "top"), kLongAgo); }},
      {.name = "as a user: the user's own, without set-ID bits",
       .arrange =
           [](const fs::path& from, const fs::path&) {
             fs::permissions(from.parent_path(), fs::perms(0777));
             makeDirectory(from / "sub", fs::perms(02755), 501);
             makeFile(from / "sub/run", "x", fs::perms(04755), 501);
             makeFile(from / "top", "y", fs::perms(0644));
           },
       .copy = {"sub/ 755 501:20", "sub/run 755 501:20 x", "top 644 501:20 y"},
       .settings = user},
      {.name = "links inside are copied as links, not followed",
       .arrange =
           [](const fs::path& from, const fs::path&) {
             makeFile(from / "sub/run", "x", fs::perms(0644));
             fs::create_symlink("sub/run", from / "file-link");
             fs::create_directory_symlink("sub", from / "directory-link");
             fs::create_symlink("/nowhere", from / "dangling");
           },
       .copy = {"dangling -> /nowhere", "directory-link -> sub", "file-link -> sub/run", "sub/ 755 0:0",
                "sub/run 644 0:0 x"}},
      {.name = "a link given as the source is followed",
       .arrange =
           [](const fs::path& from, const fs::path&) {
             makeFile(from.parent_path() / "real/file", "x", fs::perms(0644));
             fs::remove(from);
             fs::create_directory_symlink("real", from);
           },
       .copy = {"file 644 0:0 x"}},
      {.name = "pipes, sockets, .nfs and .afpDeleted names are left out; devices are not",
       .arrange =
           [](const fs::path& from, const fs::path&) {
             ASSERT_EQ(::mkfifo((from / "pipe").c_str(), 0644), 0);
             testing::makeSocket(from / "socket");
             makeFile(from / ".nfs0000000000000001", "", fs::perms(0644));
             makeFile(from / "sub/.afpDeleted7", "", fs::perms(0644));
             makeDirectory(from / ".nfs-directory", fs::perms(0755));
             ASSERT_EQ(::mknod((from / "null").c_str(), S_IFCHR | 0640, makedev(1, 3)), 0);
             makeFile(from / "sub/kept", "k", fs::perms(0644));
           },
       .copy = {"null device 640 0:0", "sub/ 755 0:0", "sub/kept 644 0:0 k"}},
      {.name = "hard links stay hard links",
       .arrange =
           [](const fs::path& from, const fs::path&) {
             makeFile(from / "a", "same", fs::perms(0644));
             fs::create_directory(from / "sub");
             fs::create_hard_link(from / "a", from / "sub/b");
           },
       .copy = {"a 644 0:0 same (2 links)", "sub/ 755 0:0", "sub/b 644 0:0 same (2 links)"}},
      {.name = "an existing destination is merged into and keeps its mode and owner",
       .arrange =
           [](const fs::path& from, const fs::path& to) {
             makeFile(from / "same", "new", fs::perms(0644));
             makeFile(from / "added", "added", fs::perms(0644));
             makeDirectory(to, fs::perms(0700), 501);
             makeFile(to / "same", "old", fs::perms(0600), 501);
             makeFile(to / "theirs", "theirs", fs::perms(0600), 501);
           },
       .copy = {"added 644 0:0 added", "same 644 0:0 new", "theirs 600 501:20 theirs"}},
      {.name = "a file does not replace a directory; the rest is copied",
       .arrange =
           [](const fs::path& from, const fs::path& to) {
             makeFile(from / "same", "file", fs::perms(0644));
             makeFile(from / "other", "o", fs::perms(0644));
             makeDirectory(to / "same", fs::perms(0755));
           },
       .status = 1,
       .copy = {"other 644 0:0 o", "same/ 755 0:0"}},
      {.name = "an unreadable file fails the copy; the rest is copied",
       .arrange =
           [](const fs::path& from, const fs::path&) {
             fs::permissions(from.parent_path(), fs::perms(0777));
             makeFile(from / "secret", "s", fs::perms(0), 0);
             makeFile(from / "open", "o", fs::perms(0644), 501);
           },
       .status = 1,
       .copy = {"open 644 501:20 o"},
       .settings = user},
      {.name = "a tree deeper than a path may be long fails the copy",
       .arrange = [](const fs::path& from, const fs::path&) { testing::makeDeepTree(from, 2500); },
       .status = 1},
      {.name = "a full disk fails the copy",
       .arrange =
           [](const fs::path& from, const fs::path&) {
             for (const char* name : {"1", "2", "3", "4", "5"}) makeFile(from / name, name, fs::perms(0644));
           },
       .status = 1,
       .settings = smallDisk,
       .destination = "/Volumes/Small/to"},
      {.name = "a missing source fails the copy",
       .arrange = [](const fs::path& from, const fs::path&) { fs::remove(from); },
       .status = 1},
  };
  const fs::path shared = mac.onDisk("/Users/Shared");
  for (const DittoCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(mac.onDisk("/Users"));
    makeDirectory(shared / "from", fs::perms(0755));
    fs::permissions(mac.onDisk("/Users"), fs::perms(0755));
    fs::permissions(shared, fs::perms(0755));
    c.arrange(shared / "from", shared / "to");
    const RunResult result =
        mac.run({"/usr/bin/ditto", "--norsrc", "--noextattr", "--noqtn", "--noacl", c.source, c.destination},
                c.settings);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_EQ(result.err.empty(), c.status == 0) << result.err;
    EXPECT_EQ(result.out, "");
    if (!c.copy.empty()) {
      EXPECT_EQ(copyListing(mac.onDisk(c.destination)), c.copy);
    }
    if (c.check) c.check(mac.onDisk(c.destination));
  }
}

// BSD chmod with a numeric mode sets exactly that mode: set-ID and sticky
// bits not in it are cleared, on directories too.
TEST_F(SimulatedMacTools, ChmodSetsExactlyTheNumericMode) {
  struct Case {
    const char* name;
    bool directory;
    fs::perms before;
    const char* mode;
    fs::perms after;
  };
  const Case cases[] = {
      {"a set-group-ID directory", true, fs::perms(02777), "755", fs::perms(0755)},
      {"a set-user-ID directory", true, fs::perms(04777), "755", fs::perms(0755)},
      {"a sticky directory", true, fs::perms(01777), "755", fs::perms(0755)},
      {"set-group-ID asked for", true, fs::perms(0700), "2755", fs::perms(02755)},
      {"a set-ID file", false, fs::perms(06755), "644", fs::perms(0644)},
      {"a file made executable", false, fs::perms(0600), "755", fs::perms(0755)},
      {"set-user-ID asked for", false, fs::perms(0644), "4755", fs::perms(04755)},
      {"mode 0", false, fs::perms(0777), "0", fs::perms(0)},
  };
  const fs::path item = mac.onDisk("/Users/Shared/item");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(item);
    if (c.directory) {
      fs::create_directories(item);
    } else {
      testing::writeFile(item, "");
    }
    fs::permissions(item, c.before);
    const RunResult result = mac.run({"/bin/chmod", c.mode, "/Users/Shared/item"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(fs::status(item).permissions(), c.after);
  }

  // Several at once, as find -exec ... {} + gives them; one that is missing
  // fails the run, and the others are still changed.
  const fs::path shared = mac.onDisk("/Users/Shared");
  for (const char* name : {"a", "b"}) {
    testing::writeFile(shared / name, "");
    fs::permissions(shared / name, fs::perms(06777));
  }
  const RunResult several =
      mac.run({"/bin/chmod", "644", "/Users/Shared/a", "/Users/Shared/missing", "/Users/Shared/b"});
  EXPECT_EQ(several.status, 1);
  EXPECT_NE(several.err.find("/Users/Shared/missing"), std::string::npos) << several.err;
  for (const char* name : {"a", "b"}) {
    EXPECT_EQ(fs::status(shared / name).permissions(), fs::perms(0644)) << name;
  }
}

// BSD wc pads the count to eight columns; the script's tr -d ' ' removes it.
TEST_F(SimulatedMacTools, WcPadsTheLineCountWithBlanks) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "       0\n"},
      {"one\n", "       1\n"},
      {"one\ntwo", "       1\n"},  // what follows the last line feed is no line
      {std::string(12345678, '\n'), " 12345678\n"},
  };
  for (const auto& [input, out] : cases) {
    SCOPED_TRACE(out);
    const RunResult result = mac.run({"/usr/bin/wc", "-l"}, {}, input);
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.status, 0) << result.err;
  }
}

// macOS's /bin/sh is bash in POSIX mode unless an administrator chose dash.
TEST_F(SimulatedMacTools, ShIsBashInPosixModeOrDash) {
  const std::string probe =
      "echo \"${BASH_VERSION:+bash}\"; case \"${SHELLOPTS-}\" in *posix*) echo posix;; esac";
  const std::pair<std::string, std::string> cases[] = {{"bash", "bash\nposix\n"}, {"dash", "\n"}};
  for (const auto& [shell, out] : cases) {
    MacSettings settings;
    settings.shell = shell;
    const RunResult result = mac.run({"/bin/sh", "-c", probe}, settings);
    EXPECT_EQ(result.out, out) << shell;
    EXPECT_EQ(result.status, 0) << shell;
  }
}

// A hook on mv or rm runs once, at the first call, just before the tool's
// work; the tool then works as Debian's does, and a signal the hook sends it
// stops it before it has done anything.
TEST_F(SimulatedMacTools, AHookRunsOnceJustBeforeTheToolsFirstCall) {
  const std::string script =
      "/bin/mkdir /Library/a /Library/b; /bin/mv -n /Library/a /Library/b/a; /bin/rm -rf -- /Library/b; "
      "status=$?; /bin/rm -rf -- /Library/none; /bin/mv -n /Library/none /Library/none2; echo \"status "
      "$status\"";
  const std::string record =
      "[ \"$SIMMAC_SCRIPT_PID\" = \"$(cut -d ' ' -f 4 /proc/$SIMMAC_TOOL_PID/stat)\" ] && "
      "listing=$(ls /Library) && echo $listing >> /Library/seen\n";
  struct Case {
    const char* name;
    std::string tool;
    std::string hook;
    std::string out;
    std::vector<std::string> seen;  // what the hook found in /Library, a line a call
    bool bRemains;
  };
  const Case cases[] = {
      {"before mv", "mv", record, "status 0\n", {"a b"}, false},
      {"before rm", "rm", record, "status 0\n", {"b"}, false},
      {"rm stopped", "rm", "kill -s TERM \"$SIMMAC_TOOL_PID\"\n", "status 143\n", {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(mac.onDisk("/Library/b"));
    fs::remove(mac.onDisk("/Library/seen"));
    MacSettings settings;
    settings.before = {{c.tool, c.hook}};
    const RunResult result = mac.run({"/bin/sh", "-c", script}, settings);
    EXPECT_EQ(result.out, c.out) << result.err;
    std::vector<std::string> seen;
    std::istringstream lines(
        fs::exists(mac.onDisk("/Library/seen")) ? testing::readFile(mac.onDisk("/Library/seen")) : "");
    for (std::string line; std::getline(lines, line);) seen.push_back(line);
    EXPECT_EQ(seen, c.seen);
    EXPECT_EQ(fs::exists(mac.onDisk("/Library/b/a")), c.bRemains);
  }
}

TEST_F(SimulatedMacTools, RefuseEveryOtherForm) {
  const std::vector<std::vector<std::string>> cases = {
      {"/usr/bin/uname"},
      {"/usr/bin/uname", "-a"},
      {"/usr/bin/uname", "-m", "-r"},
      {"/usr/bin/sw_vers"},
      {"/usr/bin/sw_vers", "-buildVersion"},
      {"/usr/bin/stat", "-c", "%u", "/Library"},
      {"/usr/bin/stat", "-f", "%p", "/Library"},
      {"/usr/bin/stat", "/Library"},
      {"/usr/sbin/chown", "root:wheel", "/Library"},
      {"/usr/sbin/chown", "-R", "root:staff", "/Library"},
      {"/bin/chmod", "755"},
      {"/bin/chmod", "-R", "755", "/Library"},
      {"/bin/chmod", "u+x", "/Library"},
      {"/bin/chmod", "=755", "/Library"},
      {"/bin/chmod", "07755", "/Library"},
      {"/bin/chmod", "758", "/Library"},
      {"/usr/bin/wc"},
      {"/usr/bin/wc", "-c"},
      {"/usr/bin/wc", "-l", "/Library"},
      {"/usr/bin/ditto", "/Library", "/tmp/copy"},
      {"/usr/bin/ditto", "--norsrc", "--noextattr", "--noqtn", "/Library", "/tmp/copy"},
      {"/usr/bin/codesign", "--verify", "/Library"},
      {"/usr/bin/codesign", "--verify", "--deep", "--strict", "--test-requirement", "=anchor apple",
       "/Library"},
      {"/usr/bin/codesign", "--verify", "--deep", "--strict", "--test-requirement",
       testing::readFile(CORVEL_REQUIREMENT_FILE)
           .substr(0, testing::readFile(CORVEL_REQUIREMENT_FILE).size() - 1),
       "relative/path"},
  };
  for (const auto& command : cases) {
    std::string label;
    for (const auto& word : command) label += "[" + word + "]";
    const RunResult result = mac.run(command);
    EXPECT_EQ(result.status, 64) << label << " " << result.err;
    EXPECT_NE(result.err.find("this form is not simulated"), std::string::npos) << label;
  }
}

// sudo as the installer calls it when not root; only a user's run has it.
// The script runs as root with sudo's reset environment and nothing of the
// caller's; its output and status are sudo's.
TEST_F(SimulatedMacTools, SudoAuthenticatesAndRunsTheScriptAsRoot) {
  const std::string script =
      "id -u; id -g; "
      "/run/host/bin/env | /run/host/bin/grep -v -e '^PWD=' -e '^SHLVL=' -e '^_=' | /run/host/bin/sort; "
      "echo to standard error >&2; printf 'last\\n\\n'; exit 3";
  const std::string rootEnvironment =
      "HOME=/var/root\nLOGNAME=root\nMAIL=/var/mail/root\nPATH=/usr/bin:/bin:/usr/sbin:/sbin\n"
      "SHELL=/bin/sh\nSUDO_COMMAND=/bin/sh -c " +
      script + "\nSUDO_GID=20\nSUDO_UID=501\nSUDO_USER=user501\nUSER=root\n";
  const auto notSimulated = [](const std::vector<std::string>& arguments) {
    std::string err = "simmac: sudo: this form is not simulated:";
    for (const auto& argument : arguments) err += " [" + argument + "]";
    return err + "\n";
  };
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    bool refuses = false;  // the password
    std::string out = {};
    std::string err = {};
    int status = 0;
  };
  const Case cases[] = {
      {.name = "an accepted password", .arguments = {"-v"}},
      {.name = "a refused password",
       .arguments = {"-v"},
       .refuses = true,
       .err = "sudo: 3 incorrect password attempts\n",
       .status = 1},
      {.name = "a script as root",
       .arguments = {"-n", "/bin/sh", "-c", script},
       .out = "0\n0\n" + rootEnvironment + "last\n\n",
       .err = "to standard error\n",
       .status = 3},
      {.name = "no script without an accepted password",
       .arguments = {"-n", "/bin/sh", "-c", "echo ran"},
       .refuses = true,
       .err = "sudo: a password is required\n",
       .status = 1},
      {.name = "no arguments",
       .arguments = {},
       .err = "simmac: sudo: this form is not simulated: []\n",
       .status = 64},
      {.name = "-v with more", .arguments = {"-v", "-k"}, .err = notSimulated({"-v", "-k"}), .status = 64},
      {.name = "a prompt it may not show",
       .arguments = {"/bin/sh", "-c", "true"},
       .err = notSimulated({"/bin/sh", "-c", "true"}),
       .status = 64},
      {.name = "another shell",
       .arguments = {"-n", "/bin/bash", "-c", "true"},
       .err = notSimulated({"-n", "/bin/bash", "-c", "true"}),
       .status = 64},
      {.name = "no script",
       .arguments = {"-n", "/bin/sh", "-c"},
       .err = notSimulated({"-n", "/bin/sh", "-c"}),
       .status = 64},
      {.name = "the script's own arguments",
       .arguments = {"-n", "/bin/sh", "-c", "true", "sh"},
       .err = notSimulated({"-n", "/bin/sh", "-c", "true", "sh"}),
       .status = 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MacSettings settings = SimulatedMac::defaultUser();
    settings.sudoRefuses = c.refuses;
    settings.environment = {{"FROM_THE_CALLER", "1"}};
    std::vector<std::string> command = {"/usr/bin/sudo"};
    command.insert(command.end(), c.arguments.begin(), c.arguments.end());
    testing::expectRun(mac.run(command, settings), c.out, c.err, c.status);
  }
}

TEST_F(SimulatedMacTools, OnlyTheScriptsToolsAreOnTheSearchPath) {
  for (const char* tool :
       {"/usr/bin/curl", "/usr/bin/sudo", "/usr/bin/python3", "/usr/bin/cp", "/usr/bin/ln"}) {
    EXPECT_NE(mac.run({"/bin/sh", "-c", std::string("test -e ") + tool}).status, 0) << tool;
  }
}

}  // namespace
}  // namespace corvel
