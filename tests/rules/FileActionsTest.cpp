#include "rules/FileActions.h"
#include "text/AtomicFile.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

class FileActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ + "/in");
    fs::create_directories(dir_ + "/out");
  }
  std::string Put(const std::string& path, const std::string& content = "data") {
    EXPECT_TRUE(WriteFileAtomically(path, content));
    return path;
  }
  std::string Read(const std::string& path) {
    std::string bytes;
    ReadWholeFile(path, bytes);
    return bytes;
  }
  TestDir temp_;
  std::string dir_ = temp_.Path();
};

TEST_F(FileActionsTest, CopyNumbersTakenNamesAndNeverReplaces) {
  std::string in = Put(dir_ + "/in/report.txt", "new");
  std::string out = dir_ + "/out";
  ActionResult r = CopyFileAction(in, out, dir_ + "/in");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.target, out + "/report.txt");
  r = CopyFileAction(in, out, dir_ + "/in");
  EXPECT_EQ(r.target, out + "/report(1).txt");
  Put(out + "/a.doc");
  r = CopyFileAction(in, out, dir_ + "/in");
  EXPECT_EQ(r.target, out + "/report(3).txt") << "pattern * counts every file";
  r = CopyFileAction(in, out, ".txt");
  EXPECT_EQ(r.target, out + "/report(4).txt") << "*.txt: report, (1) and (3) are three, and (3) is taken";
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(Read(out + "/report.txt"), "new");
  EXPECT_EQ(Read(in), "new") << "a copy leaves the source";
}

TEST_F(FileActionsTest, ReadmeWithoutExtensionAndNumberedNameTaken) {
  std::string in = Put(dir_ + "/in/readme", "r");
  Put(dir_ + "/out/readme", "old");
  Put(dir_ + "/out/readme(2)", "taken");
  ActionResult r = CopyFileAction(in, dir_ + "/out", dir_ + "/in");
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, dir_ + "/out/readme(3)") << "a taken number is skipped, the file is still backed up";
  EXPECT_EQ(Read(dir_ + "/out/readme(2)"), "taken");
  EXPECT_EQ(Read(dir_ + "/out/readme"), "old");
}

TEST_F(FileActionsTest, FailuresCarryTheSystemsReason) {
  std::string in = Put(dir_ + "/in/a.txt");
  ActionResult r = CopyFileAction(in, dir_ + "/missing", dir_ + "/in");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "没有那个文件或目录");
  r = MoveFileAction(dir_ + "/in/none.txt", dir_ + "/out", dir_ + "/in");
  EXPECT_FALSE(r.ok);
}

TEST_F(FileActionsTest, MoveWithinAndAcrossFileSystems) {
  std::string in = Put(dir_ + "/in/m.txt", "moved");
  ActionResult r = MoveFileAction(in, dir_ + "/out", dir_ + "/in");
  EXPECT_TRUE(r.ok);
  EXPECT_FALSE(fs::exists(in));
  EXPECT_EQ(Read(dir_ + "/out/m.txt"), "moved");

  TestDir shmDir("/dev/shm");
  if (!shmDir.Made()) GTEST_SKIP() << "no tmpfs at /dev/shm to move from";
  const std::string& shm_ = shmDir.Path();
  std::string big(3 << 20, 'b');
  std::string across = Put(shm_ + "/big.bin", big);
  r = MoveFileAction(across, dir_ + "/out", shm_);
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(fs::exists(across)) << "the source goes once the copy is complete";
  EXPECT_EQ(Read(dir_ + "/out/big.bin"), big);
  std::string second = Put(shm_ + "/big.bin", "second");
  r = MoveFileAction(second, dir_ + "/out", shm_);
  EXPECT_EQ(r.target, dir_ + "/out/big(2).bin") << "numbered by the two files already there";
  EXPECT_EQ(Read(dir_ + "/out/big.bin"), big) << "never replaced";
}

TEST_F(FileActionsTest, DeleteKeepsReadOnlyFiles) {
  std::string plain = Put(dir_ + "/in/plain.txt");
  std::string locked = Put(dir_ + "/in/locked.txt");
  ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
  EXPECT_TRUE(DeleteFileAction(plain).ok);
  EXPECT_FALSE(fs::exists(plain));
  ActionResult r = DeleteFileAction(locked);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(fs::exists(locked));
  EXPECT_FALSE(DeleteFileAction(dir_ + "/in").ok) << "not a file";
}

TEST_F(FileActionsTest, DirectoryCopyMergesAndCopiesLinksAsLinks) {
  std::string src = dir_ + "/in/notes.2019";
  fs::create_directories(src + "/sub");
  Put(src + "/a.txt", "new a");
  Put(src + "/sub/b.txt", "b");
  fs::create_symlink("/etc/hostname", src + "/link");
  fs::create_directories(dir_ + "/out/notes");
  Put(dir_ + "/out/notes/a.txt", "old a");
  Put(dir_ + "/out/notes/keep.txt", "keep");
  ActionResult r = CopyDirectoryAction(src, dir_ + "/out");
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, dir_ + "/out/notes") << "the copy drops the last dot-suffix";
  EXPECT_EQ(Read(dir_ + "/out/notes/a.txt"), "new a") << "existing files are overwritten";
  EXPECT_EQ(Read(dir_ + "/out/notes/keep.txt"), "keep");
  EXPECT_EQ(Read(dir_ + "/out/notes/sub/b.txt"), "b");
  EXPECT_TRUE(fs::is_symlink(dir_ + "/out/notes/link"));
  EXPECT_EQ(fs::read_symlink(dir_ + "/out/notes/link"), "/etc/hostname");
  EXPECT_FALSE(CopyDirectoryAction(src, src).ok) << "never into itself";

  r = MoveDirectoryAction(src, dir_ + "/out");
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, dir_ + "/out/notes.2019") << "the move keeps the suffix";
  EXPECT_FALSE(fs::exists(src));
  fs::create_directories(src);
  EXPECT_FALSE(MoveDirectoryAction(src, dir_ + "/out").ok) << "never replaces";
}

TEST_F(FileActionsTest, TreeDeletionNeverFollowsLinksOutOfTheTree) {
  std::string keep = dir_ + "/precious";
  fs::create_directories(keep);
  Put(keep + "/file.txt", "precious");
  std::string tree = dir_ + "/in/tree";
  fs::create_directories(tree + "/deep/er");
  Put(tree + "/deep/er/x.txt");
  std::string locked = Put(tree + "/locked.txt");
  ::chmod(locked.c_str(), 0444);
  fs::create_directory_symlink(keep, tree + "/dirlink");
  fs::create_symlink(keep + "/file.txt", tree + "/deep/filelink");
  ActionResult r = DeleteDirectoryTree(tree);
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(fs::exists(tree));
  EXPECT_EQ(Read(keep + "/file.txt"), "precious");
  EXPECT_FALSE(DeleteDirectoryTree(dir_ + "/in/none").ok);
  EXPECT_FALSE(DeleteDirectoryTree("/").ok);
}

}  // namespace
}  // namespace vantrel
