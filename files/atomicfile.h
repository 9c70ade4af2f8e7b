// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a file so that a failure never leaves a half-written target or
// replaces something that is not a plain file, and reading one in bounded
// memory.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zk7 {

// The folder part of path ("." for a bare file name, "/" for a file in the root).
std::string FolderOf(const std::string& path);
// Makes a new name in folder durable: after a crash the folder still names the file.
void SyncFolder(const std::string& folder);
// Appends text to the open file fd (named path in error) with one write() and
// flushes it to disk. What fitted of a partial write (a full disk) is cut off
// again, so no torn line stays.
bool AppendDurably(int fd, const std::string& path, const std::string& text, std::string& error);

// Writes content to path:
// - a plain file, or a name that does not exist yet, is written to a
//   temporary file in the target's folder (".NAME.XXXXXXXX.tmp", NAME
//   shortened to fit), flushed to disk and renamed over it; a replaced file
//   keeps its owner, group, permissions (never setuid, setgid or sticky) and
//   extended attributes (ACLs among them);
// - a plain file that renaming would change (it has other hard links, or its
//   owner or attributes cannot be given to a new file) is written in place:
//   a flushed copy of the old contents is kept beside it while it is
//   overwritten, so a crash or a full disk leaves the old or the new
//   contents, never neither; a failure puts the old contents back;
// - a file the effective user may not write to is refused ("PATH is
//   write-protected"), as a shell's "> PATH" would refuse it;
// - a symbolic link is written through: the file it points to gets the new
//   content and the link stays a link; a link whose target does not exist yet
//   creates that target (its folder must exist), as any program writing
//   through the link would;
// - a FIFO or a character device (a pipe to another program, /dev/null, a
//   terminal) is written directly, since it cannot be half-replaced; a FIFO
//   that no program reads is refused rather than waited on;
// - a directory or any other special file is refused.
// On failure the old file is untouched, no temporary is left behind (nor when
// a signal ends the process meanwhile: see below), and error holds the
// reason; a folder where no file can be created is named.
bool AtomicWriteFile(const std::string& path, const std::string& content, std::string& error);

// A write in place keeps the old contents in ".NAME.XXXXXXXX.orig" beside the
// file until the new contents are on disk. A process killed in between
// (SIGKILL, a power cut) leaves that copy, and the file may hold part of the
// new contents: the next load or write of the file says where the old
// contents are. The copies found for path (links followed), and that
// sentence ("" when there are none).
std::vector<std::string> InterruptedWriteCopies(const std::string& path);
std::string InterruptedWriteNote(const std::string& path);
// For a reader of path: ok as it is; a failure's error gets the note added.
bool SayInterruptedWriteOnFailure(const std::string& path, bool ok, std::string& error);

// Removes the temporary files of writes in progress, with async-signal-safe
// calls only; the handlers of the signals that end the process call it.
void RemoveTemporaryFilesFromSignalHandler();

// Why a read failed, beside the sentence for a person.
struct ReadError {
  enum Kind { None, NotFound, TooLarge, Failed } kind = None;
  std::string message;
};

// Reads a whole file of at most maxBytes, in memory bounded by that size
// (/dev/zero or a huge file is refused at once). False with error when it
// cannot be opened or read, or holds more than maxBytes.
bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& content,
                   ReadError& error);
bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& content,
                   std::string& error);

}  // namespace zk7
