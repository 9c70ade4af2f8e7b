#include "files/atomicfile.h"

#include <fcntl.h>
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

// A symbolic link is replaced through: the file it points to gets the new
// content and the link stays a link.
std::string ResolveTarget(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
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

bool AtomicWriteFile(const std::string& path, const std::string& content, std::string& error) {
  if (path.empty()) {
    error = SystemText(ENOENT);
    return false;
  }
  const std::string target = ResolveTarget(path);
  const std::string folder = FolderOf(target);
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists && S_ISDIR(old.st_mode)) {
    error = SystemText(EISDIR);
    return false;
  }

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

bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& content,
                   std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = SystemText(errno);
    return false;
  }
  std::string data;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      error = SystemText(err);
      return false;
    }
    if (n == 0) break;
    if (static_cast<std::size_t>(n) > maxBytes - data.size()) {
      ::close(fd);
      error = "the file is larger than " + std::to_string(maxBytes) + " bytes";
      return false;
    }
    data.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  content = std::move(data);
  return true;
}

}  // namespace zk7
