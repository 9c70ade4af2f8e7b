// Replacing a file so that a failure never leaves a half-written target.
#pragma once

#include <string>

namespace zk7 {

// Writes content to a temporary file in the target's folder, flushes it to
// disk and renames it over path. On failure the old file is untouched, the
// temporary removed, and error holds the system's description.
bool AtomicWriteFile(const std::string& path, const std::string& content, std::string& error);

// Reads a whole file; false with error when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& content, std::string& error);

}  // namespace zk7
