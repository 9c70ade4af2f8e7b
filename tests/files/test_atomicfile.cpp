#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

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

  // Names in the folder other than the ones expected: a leftover temporary.
  int Entries() const {
    int n = 0;
    DIR* d = opendir(dir_.c_str());
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") ++n;
    closedir(d);
    return n;
  }
  std::string Read(const std::string& path) const {
    std::string content, error;
    EXPECT_TRUE(ReadWholeFile(path, content, error)) << error;
    return content;
  }

  std::string dir_;
};

}  // namespace

TEST_F(AtomicFile, ReplacesKeepingPermissionsAndFollowingLinks) {
  const std::string path = dir_ + "/a.dvs";
  std::string error;
  ASSERT_TRUE(AtomicWriteFile(path, "old", error)) << error;
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(AtomicWriteFile(path, "new", error)) << error;
  EXPECT_EQ(Read(path), "new");
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  const std::string link = dir_ + "/link.dvs";
  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  ASSERT_TRUE(AtomicWriteFile(link, "through", error)) << error;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(Read(path), "through");
  EXPECT_EQ(Entries(), 2);
}

TEST_F(AtomicFile, FailuresLeaveTheOldFileAndNoTemporary) {
  std::string error;
  const std::string sub = dir_ + "/sub";
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  EXPECT_FALSE(AtomicWriteFile(sub, "x", error));
  EXPECT_EQ(error, "Is a directory");
  EXPECT_FALSE(AtomicWriteFile(dir_ + "/none/a.dvs", "x", error));
  EXPECT_EQ(error, "No such file or directory");
  EXPECT_FALSE(AtomicWriteFile("", "x", error));

  // A write that fails half-way (the file size limit) keeps the old content.
  const std::string path = dir_ + "/a.hex";
  ASSERT_TRUE(AtomicWriteFile(path, "old", error));
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool ok = AtomicWriteFile(path, std::string(4096, 'x'), error);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, "File too large");
  EXPECT_EQ(Read(path), "old");
  EXPECT_EQ(Entries(), 2);  // sub and a.hex

  if (geteuid() != 0) {  // root ignores folder permissions
    ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
    EXPECT_FALSE(AtomicWriteFile(path, "new", error));
    EXPECT_EQ(error, "Permission denied");
    chmod(dir_.c_str(), 0755);
    EXPECT_EQ(Read(path), "old");
  }
}

TEST_F(AtomicFile, ReadingAFolderOrMissingFileFails) {
  std::string content = "kept", error;
  EXPECT_FALSE(ReadWholeFile(dir_, content, error));
  EXPECT_EQ(error, "Is a directory");
  EXPECT_FALSE(ReadWholeFile(dir_ + "/missing", content, error));
  EXPECT_EQ(content, "kept");
}
