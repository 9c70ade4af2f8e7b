#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "files/atomicfile.h"

using namespace zk7;

namespace {

class AtomicFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zk7_atomic_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  long Entries() const {  // a leftover temporary shows here
    return std::distance(std::filesystem::directory_iterator(dir_), {});
  }
  std::string Read(const std::string& path) const {
    std::string content, error;
    EXPECT_TRUE(ReadWholeFile(path, 1 << 20, content, error)) << error;
    return content;
  }
  std::string dir_;
  std::string error_;
};

}  // namespace

TEST_F(AtomicFile, ReplacesKeepingPermissionsAndFollowingLinks) {
  const std::string path = dir_ + "/a.dvs", link = dir_ + "/link.dvs";
  ASSERT_TRUE(AtomicWriteFile(path, "old", error_)) << error_;
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  ASSERT_TRUE(AtomicWriteFile(link, "new", error_)) << error_;
  EXPECT_EQ(Read(path), "new");
  struct stat st {};
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Entries(), 2);
}

TEST_F(AtomicFile, FailuresLeaveTheOldFileAndNoTemporary) {
  EXPECT_FALSE(AtomicWriteFile(dir_, "x", error_));
  EXPECT_EQ(error_, "Is a directory");
  EXPECT_FALSE(AtomicWriteFile(dir_ + "/none/a.dvs", "x", error_));
  EXPECT_EQ(error_, "No such file or directory");

  // A write that fails half-way (over the file size limit) keeps the old content.
  const std::string path = dir_ + "/a.hex";
  ASSERT_TRUE(AtomicWriteFile(path, "old", error_));
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool ok = AtomicWriteFile(path, std::string(4096, 'x'), error_);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error_, "File too large");
  EXPECT_EQ(Read(path), "old");
  EXPECT_EQ(Entries(), 1);
}
