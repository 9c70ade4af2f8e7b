// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// While this lives, a write past the limit set fails with EFBIG instead of
// raising SIGXFSZ; the limit and the signal's handling are put back at the end.
#pragma once

#include <signal.h>
#include <sys/resource.h>

class FileSizeLimit {
 public:
  FileSizeLimit() {
    getrlimit(RLIMIT_FSIZE, &saved_);
    handler_ = signal(SIGXFSZ, SIG_IGN);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, handler_);
  }
  // Files may not grow past bytes from now on; false when that cannot be set.
  bool set(rlim_t bytes) {
    const rlimit limit{bytes, saved_.rlim_max};
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }

 private:
  rlimit saved_{};
  void (*handler_)(int) = SIG_DFL;
};
