// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/atomicfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace zk7 {

namespace {

std::string SystemText(int err) {
  return std::strerror(err);
}

std::string BaseOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links from path to the name that holds the data: a
// non-link, or the name a dangling link points to. Relative links are taken
// from the link's own folder.
bool FollowLinks(std::string path, std::string& target, int& err) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT) {
        err = errno;
        return false;
      }
      target = path;
      return true;
    }
    if (!S_ISLNK(st.st_mode)) {
      target = path;
      return true;
    }
    char link[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), link, sizeof link);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof link) {
      err = n < 0 ? errno : ENAMETOOLONG;
      return false;
    }
    const std::string next(link, static_cast<std::size_t>(n));
    path = !next.empty() && next[0] == '/' ? next : FolderOf(path) + "/" + next;
  }
  err = ELOOP;
  return false;
}

bool WriteAll(int fd, const char* data, std::size_t size, int& err) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Copies from's contents from offset 0 over to's, which ends there. False with err.
bool CopyContents(int from, int to, int& err) {
  char buffer[65536];
  off_t at = 0;
  for (;;) {
    const ssize_t n = ::pread(from, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      err = errno;
      return false;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::pwrite(to, buffer + done, static_cast<std::size_t>(n - done), at + done);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) {
        err = errno;
        return false;
      }
      done += w;
    }
    at += n;
  }
  if (::ftruncate(to, at) != 0 || ::fsync(to) != 0) {
    err = errno;
    return false;
  }
  return true;
}

// The temporary files being written, where a signal handler can remove them.
struct TemporarySlot {
  std::atomic<int> state{0};  // 0 free, 1 being named, 2 a file that may exist
  char path[PATH_MAX + 1];
};
TemporarySlot gTemporaries[8];

// A slot that removes path at a signal's ending until it is let go.
class TemporaryGuard {
 public:
  TemporaryGuard() = default;
  TemporaryGuard(const TemporaryGuard&) = delete;
  TemporaryGuard& operator=(const TemporaryGuard&) = delete;
  ~TemporaryGuard() { letGo(); }
  void watch(const std::string& path) {
    letGo();
    if (path.size() > PATH_MAX) return;
    for (auto& slot : gTemporaries) {
      int free = 0;
      if (!slot.state.compare_exchange_strong(free, 1)) continue;
      std::memcpy(slot.path, path.c_str(), path.size() + 1);
      slot.state.store(2);
      slot_ = &slot;
      return;
    }
  }
  void letGo() {
    if (slot_) slot_->state.store(0);
    slot_ = nullptr;
  }

 private:
  TemporarySlot* slot_ = nullptr;
};

// The longest file name the folder takes.
std::size_t NameMax(const std::string& folder) {
  const long n = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return n > 0 ? static_cast<std::size_t>(n) : NAME_MAX;
}

constexpr std::size_t kTagLength = 8;
constexpr char kCopySuffix[] = ".orig";

// ".BASE." of a file ".BASE.XXXXXXXX<suffix>" next to the target, BASE
// shortened (at a character boundary) so that the name fits the folder.
std::string TemporaryPrefix(const std::string& folder, const std::string& base,
                            const char* suffix) {
  const std::size_t extra = 1 + 1 + kTagLength + std::strlen(suffix);
  const std::size_t room = NameMax(folder);
  std::size_t keep = base.size();
  if (keep + extra > room) {
    keep = room > extra ? room - extra : 0;
    while (keep > 0 && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80) --keep;
  }
  return "." + base.substr(0, keep) + ".";
}

// Creates a fresh file ".BASE.XXXXXXXX<suffix>" next to the target.
int CreateTemporary(const std::string& folder, const std::string& base, const char* suffix,
                    mode_t mode, TemporaryGuard& guard, std::string& tempPath, int& err) {
  const std::string prefix = TemporaryPrefix(folder, base, suffix);
  std::random_device rd;
  std::mt19937 gen(rd());
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string tag;
    for (std::size_t i = 0; i < kTagLength; ++i) tag += kDigits[gen() % 36];
    tempPath = folder + "/" + prefix + tag + suffix;
    guard.watch(tempPath);
    const int fd = ::open(tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) return fd;
    guard.letGo();
    if (errno != EEXIST) {
      err = errno;
      return -1;
    }
  }
  err = EEXIST;
  return -1;
}

std::string FolderError(const std::string& folder, int err) {
  return "cannot create a file in the folder " + folder + ": " + SystemText(err);
}

// The names of a file's extended attributes (ACLs among them).
std::vector<std::string> AttributeNames(int fd) {
  std::vector<std::string> names;
  const ssize_t size = ::flistxattr(fd, nullptr, 0);
  if (size <= 0) return names;
  std::string list(static_cast<std::size_t>(size), '\0');
  const ssize_t got = ::flistxattr(fd, &list[0], list.size());
  for (std::size_t at = 0; got > 0 && at < static_cast<std::size_t>(got);) {
    const std::string name(list.c_str() + at);
    at += name.size() + 1;
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

bool Attribute(int fd, const std::string& name, std::string& value) {
  const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
  if (size < 0) return false;
  value.assign(static_cast<std::size_t>(size), '\0');
  return ::fgetxattr(fd, name.c_str(), &value[0], value.size()) == size;
}

// Gives the new file fd the old file's owner, group, permissions (never
// setuid, setgid or sticky) and extended attributes. False when one of them
// cannot be carried over: the old file must then be written in place.
bool CarryOver(int fd, int oldFd, const struct stat& old) {
  struct stat now {};
  if (::fstat(fd, &now) != 0) return false;
  if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
      ::fchown(fd, old.st_uid, old.st_gid) != 0)
    return false;
  if (::fchmod(fd, old.st_mode & 0777) != 0) return false;
  const auto wanted = AttributeNames(oldFd);
  for (const auto& name : AttributeNames(fd))  // e.g. a folder's default ACL
    if (std::find(wanted.begin(), wanted.end(), name) == wanted.end() &&
        ::fremovexattr(fd, name.c_str()) != 0)
      return false;
  for (const auto& name : wanted) {
    std::string value, present;
    if (!Attribute(oldFd, name, value)) return false;
    if (Attribute(fd, name, present) && present == value) continue;  // e.g. a security label
    if (::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) return false;
  }
  return true;
}

// Signals that would end the process in the middle of an overwrite wait
// until it is done; faults in the process itself still act at once.
class HoldSignals {
 public:
  HoldSignals() {
    sigset_t all;
    sigfillset(&all);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT})
      sigdelset(&all, sig);
    ::pthread_sigmask(SIG_BLOCK, &all, &before_);
  }
  ~HoldSignals() { ::pthread_sigmask(SIG_SETMASK, &before_, nullptr); }

 private:
  sigset_t before_;
};

// Writes content into target itself, for a file that a new file renamed
// over it would lose something of (another hard link, an owner or extended
// attributes that cannot be carried over). First a complete, flushed copy of
// the old contents is made beside it; then the file is overwritten, cut to
// length and flushed; then the copy is removed. At every moment the old or
// the new contents are on disk; a failure puts the old contents back.
bool WriteInPlace(const std::string& target, const std::string& content, const struct stat& old,
                  int oldFd, std::string& error) {
  const std::string folder = FolderOf(target);
  TemporaryGuard guard;
  std::string copyPath;
  int err = 0;
  const int copyFd =
      CreateTemporary(folder, BaseOf(target), kCopySuffix, 0600, guard, copyPath, err);
  if (copyFd < 0) {
    error = FolderError(folder, err) + " (a copy of the old contents is kept there while " +
            target + " is written in place)";
    return false;
  }
  if (!CopyContents(oldFd, copyFd, err)) {
    ::close(copyFd);
    ::unlink(copyPath.c_str());
    error = "cannot keep a copy of the old contents: " + SystemText(err);
    return false;
  }
  SyncFolder(folder);
  guard.letGo();  // from here the copy is what a crash would leave to recover from
  bool ok = true;
  {
    HoldSignals hold;
    errno = 0;
    ok = ::pwrite(oldFd, content.data(), content.size(), 0) ==
             static_cast<ssize_t>(content.size()) &&
         ::ftruncate(oldFd, static_cast<off_t>(content.size())) == 0 && ::fsync(oldFd) == 0;
    if (!ok) {
      err = errno ? errno : ENOSPC;
      int restoreErr = 0;
      if (!CopyContents(copyFd, oldFd, restoreErr)) {
        ::close(copyFd);
        error = SystemText(err) + "; the old contents are kept in " + copyPath;
        return false;
      }
    }
  }
  ::close(copyFd);
  ::unlink(copyPath.c_str());
  SyncFolder(folder);
  if (!ok) {
    error = SystemText(err);
    return false;
  }
  if (old.st_mode & 07000) (void)::fchmod(oldFd, old.st_mode & 0777);  // never on new contents
  return true;
}

// Writes content over the plain file target (or creates it): a temporary
// file carrying the old file's owner, permissions and attributes, flushed,
// renamed over it, then the folder flushed; in place when renaming would
// lose something.
bool ReplacePlainFile(const std::string& target, const std::string& content, std::string& error) {
  const std::string folder = FolderOf(target);
  struct stat old {};
  const int oldFd = ::open(target.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (oldFd < 0 && errno != ENOENT) {
    error = SystemText(errno);
    return false;
  }
  const bool exists = oldFd >= 0 && ::fstat(oldFd, &old) == 0 && S_ISREG(old.st_mode);
  if (oldFd >= 0 && !exists) {
    ::close(oldFd);
    error = "the file changed while it was being written; nothing was written";
    return false;
  }
  struct Closer {
    int fd;
    ~Closer() {
      if (fd >= 0) ::close(fd);
    }
  } closer{oldFd};
  if (exists && old.st_nlink > 1) return WriteInPlace(target, content, old, oldFd, error);

  TemporaryGuard guard;
  std::string tempPath;
  int err = 0;
  // A new file gets the permissions the umask leaves; a replaced one starts
  // private and is given the old file's below.
  const int fd =
      CreateTemporary(folder, BaseOf(target), ".tmp", exists ? 0600 : 0666, guard, tempPath, err);
  if (fd < 0) {
    error = FolderError(folder, err);
    return false;
  }
  bool ok = WriteAll(fd, content.data(), content.size(), err);
  if (ok && exists && !CarryOver(fd, oldFd, old)) {
    ::close(fd);
    ::unlink(tempPath.c_str());
    return WriteInPlace(target, content, old, oldFd, error);
  }
  if (ok && ::fsync(fd) != 0) {
    err = errno;
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    err = errno;
    ok = false;
  }
  if (ok && ::rename(tempPath.c_str(), target.c_str()) != 0) {
    err = errno;
    ok = false;
  }
  if (!ok) {
    ::unlink(tempPath.c_str());
    error = SystemText(err);
    return false;
  }
  guard.letGo();
  // Make the rename itself durable; a failure here no longer endangers data.
  SyncFolder(folder);
  return true;
}

// Writes into an existing FIFO or character device. The open does not wait
// for a reader, and a reader that goes away gives an error rather than
// SIGPIPE, which would end the whole program.
bool WriteThrough(const std::string& path, bool fifo, const std::string& content,
                  std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = fifo && errno == ENXIO ? "no program is reading from this FIFO" : SystemText(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
    ::close(fd);
    error = "the file changed while it was being written; nothing was written";
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

  sigset_t pipeSet, oldMask, pending;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipeSet, &oldMask);
  sigpending(&pending);
  const bool pipeWasPending = sigismember(&pending, SIGPIPE) == 1;
  int err = 0;
  bool ok = WriteAll(fd, content.data(), content.size(), err);
  if (!ok && err == EPIPE && !pipeWasPending) {
    const timespec noWait{};
    sigtimedwait(&pipeSet, nullptr, &noWait);
  }
  ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
  if (::close(fd) != 0 && ok) {
    err = errno;
    ok = false;
  }
  if (!ok) error = err == EPIPE ? "the program reading from it went away" : SystemText(err);
  return ok;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void SyncFolder(const std::string& folder) {
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
}

bool AtomicWriteFile(const std::string& path, const std::string& content, std::string& error) {
  if (path.empty()) {
    error = SystemText(ENOENT);
    return false;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))
      return WriteThrough(path, S_ISFIFO(st.st_mode), content, error);
    if (S_ISDIR(st.st_mode)) {
      error = SystemText(EISDIR);
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      error = "not a regular file, FIFO or character device; nothing was written";
      return false;
    }
  } else if (errno != ENOENT) {
    error = SystemText(errno);
    return false;
  }
  // A plain file, a new name, or a link to either.
  std::string target;
  int err = 0;
  if (!FollowLinks(path, target, err)) {
    error = SystemText(err);
    return false;
  }
  // As a shell's "> FILE" would: a file the effective user may not write to
  // is refused, though its folder would let a new file be renamed over it.
  if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) {
    error = errno == EACCES || errno == EPERM ? path + " is write-protected" : SystemText(errno);
    return false;
  }
  return ReplacePlainFile(target, content, error);
}

std::vector<std::string> InterruptedWriteCopies(const std::string& path) {
  std::vector<std::string> copies;
  std::string target;
  int err = 0;
  if (!FollowLinks(path, target, err)) return copies;
  const std::string folder = FolderOf(target);
  const std::string prefix = TemporaryPrefix(folder, BaseOf(target), kCopySuffix);
  const std::size_t length = prefix.size() + kTagLength + std::strlen(kCopySuffix);
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return copies;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() == length && name.compare(0, prefix.size(), prefix) == 0 &&
        name.compare(length - std::strlen(kCopySuffix), std::string::npos, kCopySuffix) == 0)
      copies.push_back(folder + "/" + name);
  }
  ::closedir(dir);
  std::sort(copies.begin(), copies.end());
  return copies;
}

std::string InterruptedWriteNote(const std::string& path) {
  const auto copies = InterruptedWriteCopies(path);
  if (copies.empty()) return {};
  std::string list;
  for (const auto& copy : copies) list += (list.empty() ? "" : ", ") + copy;
  return "an earlier write of " + path + " was interrupted; what it held before that write is " +
         "kept in " + list;
}

bool SayInterruptedWriteOnFailure(const std::string& path, bool ok, std::string& error) {
  if (ok) return true;
  if (const std::string note = InterruptedWriteNote(path); !note.empty())
    error += " (" + note + ")";
  return false;
}

void RemoveTemporaryFilesFromSignalHandler() {
  for (auto& slot : gTemporaries)
    if (slot.state.load() == 2) ::unlink(slot.path);
}

bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& content,
                   ReadError& error) {
  const auto fail = [&error](ReadError::Kind kind, std::string message) {
    error = {kind, std::move(message)};
    return false;
  };
  const auto tooLarge = [&] {
    return fail(ReadError::TooLarge,
                "the file is larger than " + std::to_string(maxBytes) + " bytes");
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    return fail(err == ENOENT ? ReadError::NotFound : ReadError::Failed, SystemText(err));
  }
  // A plain file says its size: one too large is refused without reading it.
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<unsigned long long>(st.st_size) > maxBytes) {
    ::close(fd);
    return tooLarge();
  }
  std::string data;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return fail(ReadError::Failed, SystemText(err));
    }
    if (n == 0) break;
    if (static_cast<std::size_t>(n) > maxBytes - data.size()) {
      ::close(fd);
      return tooLarge();
    }
    data.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  content = std::move(data);
  error = {};
  return true;
}

bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& content,
                   std::string& error) {
  ReadError e;
  if (ReadWholeFile(path, maxBytes, content, e)) return true;
  error = e.message;
  return false;
}

bool AppendDurably(int fd, const std::string& path, const std::string& text, std::string& error) {
  struct stat st {};
  const bool sized = ::fstat(fd, &st) == 0;
  const ssize_t n = ::write(fd, text.data(), text.size());
  if (n != static_cast<ssize_t>(text.size())) {
    error = "cannot write " + path + ": " + std::strerror(n < 0 ? errno : ENOSPC);
    if (n > 0 && sized) (void)!::ftruncate(fd, st.st_size);
    return false;
  }
  if (::fsync(fd) != 0) {
    error = "cannot flush " + path + " to disk: " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace zk7
