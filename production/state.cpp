// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "production/state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "files/atomicfile.h"
#include "model/format.h"
#include "model/named_fields.h"

namespace zk7 {

namespace {

constexpr std::string_view kHeaderStart = "# zk7prog serial state, format ";
constexpr int kFormat = 1;
// Beyond this the file is written anew with one line per rule.
constexpr off_t kCompactBytes = 64 * 1024;
// A state file is a few lines per rule; one this large is not ours.
constexpr off_t kMaxBytes = 16 * 1024 * 1024;

std::string Header() {
  return std::string(kHeaderStart) + std::to_string(kFormat) + ": rule,held,failed,reserved\n";
}

void Raise(std::optional<std::uint64_t>& slot, std::optional<std::uint64_t> value) {
  if (value && (!slot || *value > *slot)) slot = value;
}

bool ParseValue(std::string_view text, std::optional<std::uint64_t>& value) {
  value.reset();
  if (text.empty()) return true;
  std::uint64_t v = 0;
  if (text.substr(0, 2) == "0x" || !ParseHexNumber(text, ~std::uint64_t{0}, v)) return false;
  value = v;
  return true;
}

std::string ValueText(const std::optional<std::uint64_t>& value) {
  return value ? HexText(*value) : std::string();
}

// Reads the whole file behind fd (bounded).
bool ReadAll(int fd, const std::string& path, std::string& text, std::string& error) {
  text.clear();
  char buffer[16384];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "cannot read " + path + ": " + std::strerror(errno);
      return false;
    }
    if (n == 0) return true;
    at += n;
    if (at > kMaxBytes) {
      error = path + " is larger than a serial state file can be";
      return false;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

// Gives a file made for the log the log's permissions and, where this user
// may, its owner and group, so whoever may write the log may write it too.
void LikeTheLog(int fd, const struct stat& log) {
  (void)::fchmod(fd, log.st_mode & 0666);
  if (::fchown(fd, log.st_uid, log.st_gid) != 0)
    (void)::fchown(fd, static_cast<uid_t>(-1), log.st_gid);
}

}  // namespace

std::string SerialRuleKey(const SerialRule& rule) {
  const auto text = [&rule](std::uint64_t v) {
    return rule.identifier ? IdentifierText({rule.extended, static_cast<std::uint32_t>(v)})
                           : SerialText(rule, v);
  };
  return rule.name + "=" + text(rule.start) +
         (rule.step != 1 ? ":" + std::to_string(rule.step) : std::string()) + ".." +
         text(rule.end());
}

bool ParseSerialState(const std::string& text, std::map<std::string, SerialEntry>& out,
                      std::string& error) {
  std::map<std::string, SerialEntry> entries;
  std::size_t at = 0;
  bool first = true;
  while (at < text.size()) {
    const auto end = text.find('\n', at);
    if (end == std::string::npos) break;  // torn by a crash: the line before holds
    std::string_view line(text.data() + at, end - at);
    at = end + 1;
    if (first) {
      if (line.substr(0, kHeaderStart.size()) != kHeaderStart) {
        error = "line 1 is not the header of a zk7prog serial state file";
        return false;
      }
      first = false;
      continue;
    }
    std::string_view f[4];
    std::size_t n = 0;
    for (std::size_t start = 0; n < 4; ++n) {
      const auto comma = line.find(',', start);
      f[n] = line.substr(start, comma == std::string_view::npos ? comma : comma - start);
      if (comma == std::string_view::npos) {
        ++n;
        break;
      }
      start = comma + 1;
    }
    SerialEntry e;
    if (n != 4 || f[0].empty() || !ParseValue(f[1], e.held) || !ParseValue(f[2], e.failed) ||
        !ParseValue(f[3], e.reserved))
      continue;  // not a whole line of ours: the rule's line before it holds
    entries[std::string(f[0])] = e;
  }
  out = std::move(entries);
  return true;
}

std::string FormatSerialStateLine(const std::string& key, const SerialEntry& e) {
  return key + ',' + ValueText(e.held) + ',' + ValueText(e.failed) + ',' + ValueText(e.reserved) +
         '\n';
}

SerialUse SerialUseFromState(const SerialRule& rule,
                             const std::map<std::string, SerialEntry>& entries) {
  const SerialRange range{rule.start, rule.end()};
  const std::string own = SerialRuleKey(rule);
  SerialUse use;
  for (const auto& [key, e] : entries) {
    if (key == own) {
      for (const auto& held : {e.held, e.reserved})
        if (held) use.add(use.held, *held, range);
      if (e.failed) use.add(use.failed, *e.failed, range);
      continue;
    }
    SerialRule other;
    std::string ignored;
    if (!ParseSerialRule(key, other, ignored)) continue;
    std::optional<std::uint64_t> top;
    for (const auto& v : {e.held, e.failed, e.reserved}) Raise(top, v);
    if (!top || *top < range.low || other.start > range.high) continue;
    use.add(use.held, std::min(*top, range.high), range);
  }
  return use;
}

SerialState::~SerialState() {
  if (fd_ >= 0) ::close(fd_);  // the lock goes with it
  if (nameLock_ >= 0) ::close(nameLock_);
}

bool SerialState::lockName(std::string& error) {
  // A lock no file operation can remove: an abstract socket address named
  // after the state file's path, given back by the kernel when the process
  // ends. It holds even when the log is rotated and the state file deleted
  // while a run waits.
  std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : path_) hash = (hash ^ c) * 1099511628211ull;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = "zk7prog-serial-state-" + HexText(hash);
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("cannot lock the serial state: ") + std::strerror(errno);
    return false;
  }
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
    const int err = errno;
    ::close(fd);
    error = err == EADDRINUSE ? "the log is in use by another run (it holds " + path_ + ")"
                              : std::string("cannot lock the serial state: ") + std::strerror(err);
    return false;
  }
  nameLock_ = fd;
  return true;
}

bool SerialState::create(std::string& error) {
  const int flags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW;
  for (;;) {
    int fd = ::open(path_.c_str(), flags);
    bool made = false;
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(path_.c_str(), flags | O_CREAT | O_EXCL, 0600);
      made = fd >= 0;
      if (fd < 0 && errno == EEXIST) continue;  // made by someone else meanwhile
    }
    if (fd < 0) {
      const int err = errno;
      if (err == ELOOP)
        error = path_ + " is a symbolic link; the serial state must be a plain file there";
      else if (err == EACCES && ::access(FolderOf(path_).c_str(), W_OK) != 0 &&
               ::access(path_.c_str(), F_OK) != 0)
        error = "cannot create the serial state file " + path_ + ": the folder " + FolderOf(path_) +
                " is not writable for you, and the state must live beside the log (make the "
                "folder writable, or have the file created there with the log's owner and "
                "permissions)";
      else if (err == EACCES)
        error = "cannot write the serial state file " + path_ +
                ": permission denied (it needs the same permissions as the log)";
      else
        error = "cannot open the serial state file " + path_ + ": " + std::strerror(err);
      return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1) {
      error = path_ + (st.st_nlink > 1 ? " has other names (hard links)" : " is not a plain file") +
              "; the serial state must be a file of its own";
      ::close(fd);
      return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      error = errno == EWOULDBLOCK ? "the log is in use by another run (it holds " + path_ + ")"
                                   : "cannot lock " + path_ + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (made) {
      LikeTheLog(fd, logFile_);
      if (!AppendDurably(fd, path_, Header(), error)) {
        ::close(fd);
        ::unlink(path_.c_str());
        return false;
      }
      SyncFolder(FolderOf(path_));
    }
    std::string text;
    std::map<std::string, SerialEntry> found;
    if (!ReadAll(fd, path_, text, error) ||
        (!text.empty() && !ParseSerialState(text, found, error))) {
      if (error.rfind(path_, 0) != 0) error = path_ + ": " + error;
      ::close(fd);
      return false;
    }
    if (text.empty() && !AppendDurably(fd, path_, Header(), error)) {
      ::close(fd);
      return false;
    }
    // A file found in place of ours (another run's, or an older one) adds what it holds.
    for (const auto& [key, e] : found) {
      SerialEntry& mine = entries_[key];
      Raise(mine.held, e.held);
      Raise(mine.failed, e.failed);
      Raise(mine.reserved, e.reserved);
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    return true;
  }
}

bool SerialState::open(const std::string& logRealPath, const struct stat& logFile,
                       const SerialRule& rule, std::string& error) {
  path_ = logRealPath + ".state";
  rule_ = rule;
  key_ = SerialRuleKey(rule);
  logFile_ = logFile;
  entries_.clear();
  if (!lockName(error) || !create(error)) return false;
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && st.st_size > kCompactBytes) return rewrite(error);
  return true;
}

bool SerialState::rewrite(std::string& error) {
  std::string text = Header();
  for (const auto& [key, e] : entries_) text += FormatSerialStateLine(key, e);
  std::string temp = path_ + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    error = "cannot write " + path_ + " anew: " + std::strerror(errno);
    return false;
  }
  LikeTheLog(fd, logFile_);
  // Locked before it has the name, so no other run can take it in between.
  const bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && AppendDurably(fd, temp, text, error) &&
                  ::rename(temp.c_str(), path_.c_str()) == 0;
  if (!ok) {
    if (error.empty()) error = "cannot write " + path_ + " anew: " + std::strerror(errno);
    ::unlink(temp.c_str());
    ::close(fd);
    return false;
  }
  SyncFolder(FolderOf(path_));
  ::close(fd_);
  fd_ = fd;
  return true;
}

bool SerialState::ensureOwnFile(std::string& error) {
  struct stat named {
  }, mine{};
  if (::lstat(path_.c_str(), &named) == 0 && ::fstat(fd_, &mine) == 0 &&
      named.st_dev == mine.st_dev && named.st_ino == mine.st_ino)
    return true;
  // Removed or replaced (a cleanup script?): the new file gets every entry.
  if (!create(error)) return false;
  std::string text;
  for (const auto& [key, e] : entries_) text += FormatSerialStateLine(key, e);
  if (!AppendDurably(fd_, path_, text, error)) return false;
  notes_.push_back(path_ + " was removed or replaced while this run used it; it was written again");
  return true;
}

bool SerialState::write(const SerialEntry& entry, std::string& error) {
  if (fd_ < 0) {
    error = "the serial state is not open";
    return false;
  }
  if (!ensureOwnFile(error)) return false;
  if (!AppendDurably(fd_, path_, FormatSerialStateLine(key_, entry), error)) return false;
  entries_[key_] = entry;
  return true;
}

bool SerialState::merge(const SerialUse& fromLog, std::string& error) {
  SerialEntry e = entries_[key_];
  const SerialEntry before = e;
  // A reservation a crash left without its result: a chip may hold the value.
  Raise(e.held, e.reserved);
  e.reserved.reset();
  Raise(e.held, fromLog.held);
  Raise(e.failed, fromLog.failed);
  return e == before || write(e, error);
}

bool SerialState::reserve(std::uint64_t value, std::string& error) {
  SerialEntry e = entries_[key_];
  e.reserved = value;
  return write(e, error);
}

bool SerialState::result(std::uint64_t value, ChipResult result, std::string& error) {
  SerialEntry e = entries_[key_];
  e.reserved.reset();
  if (result == ChipResult::Passed || result == ChipResult::Aborted) Raise(e.held, value);
  if (result == ChipResult::Failed) Raise(e.failed, value);
  return write(e, error);
}

std::vector<std::string> SerialState::takeNotes() {
  std::vector<std::string> notes;
  notes.swap(notes_);
  return notes;
}

}  // namespace zk7
