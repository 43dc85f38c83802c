#pragma once

#include <string>

namespace corvel {

// The digest text of the regular file at `path`, read in fixed-size pieces so
// that memory stays the same whatever the file's size. Refuses to follow a
// symbolic link or to open anything but a regular file, so an entry swapped
// after it was examined cannot redirect the read. Read failures are thrown as
// the platform's error, naming the path.
std::string fileDigest(const std::string& path);

// The same for the entry `name` of the open directory `directory`, so that a
// walk that holds each directory open never goes through a path again;
// `path` names the file in messages.
std::string fileDigestAt(int directory, const std::string& name, const std::string& path);

}  // namespace corvel
