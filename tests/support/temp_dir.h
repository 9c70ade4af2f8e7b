// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// A folder of the test's own under $TMPDIR (else /tmp), made by mkdtemp and
// removed with everything in it when the object goes, so runs side by side
// never share a file. Folders a test made read-only are opened again first.
// A forked child that ends by exit() leaves the folder to its parent.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "zk7") {
    const char* tmp = std::getenv("TMPDIR");
    std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "_XXXXXX";
    if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed for " + name);
    path_ = name;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    namespace fs = std::filesystem;
    if (getpid() != owner_) return;
    std::error_code ec, ignored;
    const auto open = [&](const fs::path& p) {
      fs::permissions(p, fs::perms::owner_all, fs::perm_options::add, ignored);
    };
    open(path_);
    for (fs::recursive_directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec))
      if (it->is_directory(ignored) && !it->is_symlink(ignored)) open(it->path());
    fs::remove_all(path_, ignored);
  }

  const std::string& path() const { return path_; }
  // A name in the folder.
  std::string path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  pid_t owner_ = getpid();
};
