#pragma once

#include <string>
#include <vector>

// The pieces that the install script and the uninstall script share. Both
// scripts are assembled from these functions, so that what they have in
// common (the setting, the root test, the directory chain, the lock, the
// cleanup and the traps) cannot drift apart.
namespace corvel::script {

// `value` as one shell word: inside single quotes, each single quote written
// as '\''.
std::string shellQuoted(const std::string& value);

// The lines, a line feed between each two and none after the last.
std::string joinedLines(const std::vector<std::string>& lines);

// set -eu, the fixed search path, the file-creation mask, and `fail`, which
// writes the failure marker to standard error and ends the run with status 1.
std::string setting();

// The effective user must be root.
std::string rootTest();

// For each directory above the target, top down: no symbolic link; then
// `whenMissing` (one line, indented) for one that does not exist; then a
// directory owned by root that neither group nor others may write.
std::string directoryChainTests(const std::string& whenMissing);

// `target`, the install location, shell-quoted.
std::string targetAssignment();

// The lock, shared by every run of either script so that an installation and
// a removal never run at once; then the cleanup that removes the temporary
// directory and the lock at every end, and the traps that send each signal
// short of SIGKILL through it.
std::string lockAndCleanup();

// A new private directory inside HAL, on the target's file system, in
// `temporary`.
std::string temporaryDirectory();

// codesign must verify `word` (a shell word, such as "$snapshot") deeply and
// strictly against `requirement`, or the run fails.
std::string signatureTest(const std::string& requirement, const std::string& word);

}  // namespace corvel::script
