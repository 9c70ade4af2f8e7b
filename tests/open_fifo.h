// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// A FIFO whose read end is already open, so a writer neither waits nor is
// refused; what was written is read back afterwards (it fits the pipe).
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

struct OpenFifo {
  explicit OpenFifo(std::string p) : path(std::move(p)) {
    if (::mkfifo(path.c_str(), 0600) == 0) fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
  }
  ~OpenFifo() { ::close(fd); }
  std::string drain() const {
    char b[4096];
    const ssize_t n = ::read(fd, b, sizeof b);
    return n > 0 ? std::string(b, static_cast<std::size_t>(n)) : std::string();
  }
  bool stillFifo() const {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
  }
  std::string path;
  int fd = -1;
};
