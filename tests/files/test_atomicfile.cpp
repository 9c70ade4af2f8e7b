#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "files/atomicfile.h"
#include "open_fifo.h"

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
  for (const char* name : {"/link.dvs", "/d.hex", "/nofolder"})
    EXPECT_TRUE(lstat((dir_ + name).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << name;
  EXPECT_TRUE(lstat((dir_ + "/fifo").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
  EXPECT_TRUE(stat("/dev/null", &st) == 0 && S_ISCHR(st.st_mode));
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Entries(), 7) << "no temporary left";
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

TEST_F(AtomicFile, ReadsAreBoundedWithAKind) {
  ReadError e;
  std::string content;
  EXPECT_TRUE(!ReadWholeFile("/dev/zero", 100000, content, e) && e.kind == ReadError::TooLarge);
  const std::string path = dir_ + "/f";
  ASSERT_TRUE(AtomicWriteFile(path, std::string(100, 'x'), error_));
  EXPECT_TRUE(ReadWholeFile(path, 100, content, e) && content.size() == 100);
  EXPECT_TRUE(!ReadWholeFile(path, 99, content, e) && e.kind == ReadError::TooLarge);
  EXPECT_TRUE(!ReadWholeFile(path + "x", 99, content, e) && e.kind == ReadError::NotFound);
}
