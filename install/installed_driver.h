#pragma once

#include <string>
#include <string_view>

#include "verify/run.h"

namespace corvel {

// What stands at the install location, compared with this build's manifest.
struct InstalledDriver {
  enum class Verdict { notInstalled, matches, differs };
  Verdict verdict = Verdict::notInstalled;

  // When it differs, the first difference: found by these checks in this
  // order, each over the paths in ascending byte order, the bundle's own
  // directory first:
  //   type       an entry that is neither a directory nor a regular file
  //   missing    a manifest path that is not a regular file here
  //   extra      a regular file that the manifest does not list
  //   owner      an entry not owned by user 0 and group 0
  //   mode       a directory not 755, a file not 644, the driver executable not 755
  //   digest     a manifest file whose contents differ
  //   signature  /usr/bin/codesign refuses the bundle
  // Extra directories are no difference: the payload check accepts them too,
  // so the install script may have installed them.
  std::string reason;
  // The entry's path below the bundle, "." for the bundle itself and for a
  // signature refusal; as the file system gives it, not yet encoded.
  std::string path;
};

// Whether the driver at the install location is exactly the one this
// installer carries, as the install script leaves it: its regular files, their
// digests, every entry's owner and mode, and then its signature, checked by
// running /usr/bin/codesign through `runner` only when all else holds.
// Inspects the directories above it as checkExistingTarget does, with the
// same failures. Below the target no symbolic link is followed, even one
// swapped in while the check runs; each file is read in bounded memory.
// Throws the platform's error for anything it cannot examine, open, list or
// read (what it cannot see cannot be compared), and changes nothing. `root`
// prefixes every path, so tests can point it at a scratch folder; the
// installer passes none.
InstalledDriver checkInstalledDriver(const std::string& root = "", const Runner& runner = run);

// The one line that --check-installed prints, without its line feed:
// DRIVER_NOT_INSTALLED, INSTALLED_DRIVER_MATCHES, or
// INSTALLED_DRIVER_DIFFERS reason=R path=P with P percent-encoded.
std::string installedDriverLine(const InstalledDriver& driver);

// `path` with every byte outside A-Z a-z 0-9 . _ - / written as % and two
// upper-case hexadecimal digits ("%" itself too), so that any file name
// becomes one field of printable ASCII without blanks.
std::string percentEncoded(std::string_view path);

}  // namespace corvel
