// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "files/atomicfile.h"
#include "open_fifo.h"
#include "port/signals.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"

using namespace zk7;

namespace {

class AtomicFile : public ::testing::Test {
 protected:
  long Entries() const {  // a leftover temporary shows here
    return std::distance(std::filesystem::directory_iterator(dir_), {});
  }
  // A write of 4 KiB while files may not grow past 1 KiB.
  bool WriteOverSizeLimit(const std::string& path) {
    FileSizeLimit limit;
    EXPECT_TRUE(limit.set(1024));
    return AtomicWriteFile(path, std::string(4096, 'x'), error_);
  }
  std::string Read(const std::string& path) const {
    std::string content, error;
    EXPECT_TRUE(ReadWholeFile(path, 1 << 20, content, error)) << error;
    return content;
  }
  TempDir tmp_;
  const std::string dir_ = tmp_.path();
  std::string error_;
};

}  // namespace

// A plain file is replaced keeping its permissions; links, FIFOs and devices are written through,
// a dangling link gets its target; nothing that is not a plain file is replaced by one.
TEST_F(AtomicFile, WritesThroughWhatIsNotAPlainFileAndNeverReplacesIt) {
  const std::string path = dir_ + "/a.dvs", link = dir_ + "/link.dvs", dangling = dir_ + "/d.hex";
  ASSERT_TRUE(AtomicWriteFile(path, "old", error_)) << error_;
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  ASSERT_TRUE(AtomicWriteFile(link, "new", error_)) << error_;
  EXPECT_EQ(Read(path), "new");
  ASSERT_EQ(symlink("sub/../made.hex", dangling.c_str()), 0);
  ASSERT_EQ(mkdir((dir_ + "/sub").c_str(), 0700), 0);
  ASSERT_TRUE(AtomicWriteFile(dangling, "made", error_)) << error_;
  EXPECT_EQ(Read(dir_ + "/made.hex"), "made");
  ASSERT_EQ(symlink("none/x.hex", (dir_ + "/nofolder").c_str()), 0);
  EXPECT_FALSE(AtomicWriteFile(dir_ + "/nofolder", "x", error_));
  {
    OpenFifo fifo(dir_ + "/fifo");
    ASSERT_TRUE(AtomicWriteFile(fifo.path, "through", error_)) << error_;
    EXPECT_EQ(fifo.drain(), "through");
  }
  EXPECT_FALSE(AtomicWriteFile(dir_ + "/fifo", "x", error_));  // no reader: refused at once
  EXPECT_EQ(error_, "no program is reading from this FIFO");
  EXPECT_TRUE(AtomicWriteFile("/dev/null", "x", error_)) << error_;
  EXPECT_FALSE(AtomicWriteFile("/dev/full", "x", error_));

  struct stat st {};
  for (const char* name : {"/link.dvs", "/d.hex", "/nofolder"}) {
    EXPECT_EQ(lstat((dir_ + name).c_str(), &st), 0) << name;
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << name;
  }
  EXPECT_EQ(lstat((dir_ + "/fifo").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Entries(), 7) << "no temporary left";
}

TEST_F(AtomicFile, FailuresLeaveTheOldFileAndNoTemporary) {
  EXPECT_FALSE(AtomicWriteFile(dir_, "x", error_));
  EXPECT_EQ(error_, "Is a directory");
  EXPECT_FALSE(AtomicWriteFile(dir_ + "/none/a.dvs", "x", error_));
  EXPECT_EQ(error_,
            "cannot create a file in the folder " + dir_ + "/none: No such file or directory");

  // A write that fails half-way (over the file size limit) keeps the old content.
  const std::string path = dir_ + "/a.hex";
  ASSERT_TRUE(AtomicWriteFile(path, "old", error_));
  EXPECT_FALSE(WriteOverSizeLimit(path));
  EXPECT_EQ(error_, "File too large");
  EXPECT_EQ(Read(path), "old");
  EXPECT_EQ(Entries(), 1);
}

TEST_F(AtomicFile, ReadsAreBoundedWithAKind) {
  ReadError e;
  std::string content;
  EXPECT_FALSE(ReadWholeFile("/dev/zero", 100000, content, e));
  EXPECT_EQ(e.kind, ReadError::TooLarge);
  const std::string path = dir_ + "/f";
  ASSERT_TRUE(AtomicWriteFile(path, std::string(100, 'x'), error_));
  EXPECT_TRUE(ReadWholeFile(path, 100, content, e));
  EXPECT_EQ(content.size(), 100);
  EXPECT_FALSE(ReadWholeFile(path, 99, content, e));
  EXPECT_EQ(e.kind, ReadError::TooLarge);
  EXPECT_FALSE(ReadWholeFile(path + "x", 99, content, e));
  EXPECT_EQ(e.kind, ReadError::NotFound);
}

// Writing over a file keeps what the file was: its other names, attributes,
// owner; never its setuid bit. Hard links are written in place.
TEST_F(AtomicFile, WritingOverAFileKeepsItsLinksAttributesAndOwner) {
  const std::string a = dir_ + "/a.dvs", b = dir_ + "/b.dvs", c = dir_ + "/c.dvs";
  for (const auto& p : {a, c}) ASSERT_TRUE(AtomicWriteFile(p, "old", error_));
  ASSERT_EQ(link(a.c_str(), b.c_str()), 0);
  ASSERT_EQ(setxattr(c.c_str(), "user.zk7", "kept", 4, 0), 0);
  ASSERT_EQ(chmod(c.c_str(), 04750), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(c.c_str(), 1234, 1234), 0);
  }
  struct stat before {};
  ASSERT_EQ(stat(a.c_str(), &before), 0);

  ASSERT_TRUE(AtomicWriteFile(a, "new", error_)) << error_;
  ASSERT_TRUE(AtomicWriteFile(c, "new", error_)) << error_;
  struct stat st {};
  ASSERT_EQ(stat(b.c_str(), &st), 0);
  EXPECT_EQ(Read(b), "new");
  EXPECT_EQ(st.st_nlink, 2);
  EXPECT_EQ(st.st_ino, before.st_ino);
  char value[8] = {};
  EXPECT_EQ(getxattr(c.c_str(), "user.zk7", value, sizeof value), 4);
  EXPECT_STREQ(value, "kept");
  ASSERT_EQ(stat(c.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u) << "no setuid bit on new contents";
  if (root) {
    EXPECT_EQ(st.st_uid, 1234u) << "written as root";
    EXPECT_EQ(st.st_gid, 1234u) << "written as root";
  }
  EXPECT_EQ(Entries(), 3) << "no temporary or copy left";

  // An in-place write that fails (the file may not grow) puts the old contents back.
  EXPECT_FALSE(WriteOverSizeLimit(b));
  EXPECT_EQ(Read(a), "new");
  EXPECT_EQ(Read(b), "new");
  EXPECT_EQ(Entries(), 3);
}

// As a shell's "> FILE": a file the user may not write is refused (root may);
// a folder without write permission is named. Names up to 255 bytes work.
TEST_F(AtomicFile, WriteProtectionIsKeptAndLongNamesFit) {
  for (std::size_t length : {242u, 255u}) {
    const std::string path = dir_ + "/" + std::string(length - 4, 'n') + ".dvs";
    EXPECT_TRUE(AtomicWriteFile(path, "x", error_)) << length << ": " << error_;
    EXPECT_TRUE(AtomicWriteFile(path, "y", error_)) << length << ": " << error_;
  }
  const std::string path = dir_ + "/ro.dvs", folder = dir_ + "/closed";
  ASSERT_TRUE(AtomicWriteFile(path, "old", error_));
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(mkdir(folder.c_str(), 0555), 0);
  ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
  EXPECT_EXIT(
      {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) std::exit(2);
        std::string error;
        const bool refused = !AtomicWriteFile(path, "new", error) &&
                             error == path + " is write-protected" && Read(path) == "old";
        const bool named = !AtomicWriteFile(folder + "/new.dvs", "x", error) &&
                           error.find("in the folder " + folder + ": ") != std::string::npos;
        std::cerr << error;
        std::exit(refused && named ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  if (geteuid() == 0) {  // root writes it, and it stays write-protected
    ASSERT_TRUE(AtomicWriteFile(path, "new", error_)) << error_;
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
  }
}

// A signal that ends the process in the middle of a write leaves no temporary behind.
TEST_F(AtomicFile, ASignalDuringAWriteLeavesNoTemporary) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    InstallTerminationHandlers("zk7test", IdleTermination::EndAtOnce);
    std::string error;
    AtomicWriteFile(dir_ + "/big.hex", std::string(64u << 20, 'x'), error);
    _exit(0);
  }
  bool seen = false;
  for (int ms = 0; ms < 20000 && !seen; ++ms) {
    for (const auto& e : std::filesystem::directory_iterator(dir_))
      seen = seen || e.path().filename().string().rfind(".big.hex.", 0) == 0;
    if (!seen) usleep(1000);
  }
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(seen);
  EXPECT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGTERM) << status;
  EXPECT_EQ(Entries(), 0);
}
