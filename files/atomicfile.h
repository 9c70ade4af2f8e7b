// Replacing a file so that a failure never leaves a half-written target.
#pragma once

#include <cstddef>
#include <string>

namespace zk7 {

// Writes content to a temporary file in the target's folder, flushes it to
// disk and renames it over path. On failure the old file is untouched, the
// temporary removed, and error holds the system's description.
bool AtomicWriteFile(const std::string& path, const std::string& content, std::string& error);

// Reads a whole file of at most maxBytes, in memory bounded by that size
// (so /dev/zero or a huge file is refused quickly). False with error when it
// cannot be opened or read, or holds more than maxBytes.
bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& content,
                   std::string& error);

}  // namespace zk7
