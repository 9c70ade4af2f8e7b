#include "files/atomicfile.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>

namespace zk7 {

namespace {

std::string SystemText(int err) {
  return std::strerror(err);
}

// Folder part of path ("." for a bare file name, "/" for a file in the root).
std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
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

// Creates a fresh temporary file next to the target. The mode 0666 lets the
// umask decide the permissions, as for any newly created file.
int CreateTemporary(const std::string& folder, const std::string& base, std::string& tempPath,
                    int& err) {
  std::random_device rd;
  std::mt19937 gen(rd());
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix;
    for (int i = 0; i < 8; ++i) suffix += kDigits[gen() % 36];
    tempPath = folder + "/." + base + "." + suffix + ".tmp";
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST) {
      err = errno;
      return -1;
    }
  }
  err = EEXIST;
  return -1;
}

}  // namespace

namespace {

// Temporary file, fsync, rename over target, fsync of the folder.
bool ReplacePlainFile(const std::string& target, const std::string& content, std::string& error) {
  const std::string folder = FolderOf(target);
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  std::string tempPath;
  int err = 0;
  const int fd = CreateTemporary(folder, BaseOf(target), tempPath, err);
  if (fd < 0) {
    error = SystemText(err);
    return false;
  }
  bool ok = WriteAll(fd, content.data(), content.size(), err);
  // A replaced file keeps its permissions.
  if (ok && exists && ::fchmod(fd, old.st_mode & 07777) != 0) {
    err = errno;
    ok = false;
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
  // Make the rename itself durable; a failure here no longer endangers data.
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
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
  return ReplacePlainFile(target, content, error);
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

}  // namespace zk7
