// What actions tell of the changes they make: exactly what happened on
// disk, under the paths the change sources will report.
#include "rules/FileActions.h"
#include "text/AtomicFile.h"
#include "FileHelpers.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

// The changes as "kind path[ -> to]" lines, in the order told.
struct Told {
  std::vector<std::string> lines;
  ActionChanges Hear() {
    return [this](const ActionChange& c) {
      static const char* const kinds[] = {"file+", "folder+", "file-", "folder-", "renamed"};
      lines.push_back(std::string(kinds[c.kind]) + " " + c.path + (c.to.empty() ? "" : " -> " + c.to));
    };
  }
  std::vector<std::string> Sorted() const {
    std::vector<std::string> s = lines;
    std::sort(s.begin(), s.end());
    return s;
  }
  std::size_t At(const std::string& line) const {
    return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
  }
};

class ActionChangesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ + "/in");
    fs::create_directories(dir_ + "/out");
  }
  TestDir temp_;
  std::string dir_ = temp_.Path();
  Told told_;
};

TEST_F(ActionChangesTest, AFolderCopyOverAPartlyExistingTargetTellsWhatItMadeAndPlacedOnly) {
  const std::string src = dir_ + "/in/D";
  fs::create_directories(src + "/sub/deeper");
  fs::create_directories(src + "/new");
  Put(src + "/a.txt", "new a");
  Put(src + "/sub/b.txt", "b");
  Put(src + "/sub/deeper/c.txt", "c");
  Put(src + "/new/x.txt", "x");
  fs::create_symlink("a.txt", src + "/link");
  fs::create_directories(dir_ + "/out/D/sub");
  Put(dir_ + "/out/D/a.txt", "old a");
  Put(dir_ + "/out/D/keep.txt", "keep");

  ActionResult r = CopyDirectoryAction(src, dir_ + "/./out//", told_.Hear());
  ASSERT_TRUE(r.ok) << r.error;
  const std::string out = dir_ + "/out/D";
  EXPECT_EQ(r.target, out) << "the target folder's text is cleaned";
  std::vector<std::string> expected = {
      "file+ " + out + "/a.txt",          "file+ " + out + "/link",      "file+ " + out + "/new/x.txt",
      "file+ " + out + "/sub/b.txt",      "file+ " + out + "/sub/deeper/c.txt",
      "folder+ " + out + "/new",          "folder+ " + out + "/sub/deeper",
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(told_.Sorted(), expected) << "no merged folder, kept file or temporary is told";
  EXPECT_LT(told_.At("folder+ " + out + "/sub/deeper"), told_.At("file+ " + out + "/sub/deeper/c.txt"))
      << "a folder is told as it is made, before what goes into it";
}

TEST_F(ActionChangesTest, ATreeDeletionTellsEveryRemovalChildrenFirst) {
  const std::string tree = dir_ + "/in/T";
  fs::create_directories(tree + "/a/b");
  fs::create_directories(tree + "/empty");
  Put(tree + "/top.txt", "t");
  Put(tree + "/a/b/deep.txt", "d");
  fs::create_symlink("/etc", tree + "/a/link");
  ActionResult r = DeleteDirectoryTree(tree, told_.Hear());
  ASSERT_TRUE(r.ok) << r.error;
  std::vector<std::string> expected = {
      "file- " + tree + "/a/b/deep.txt", "file- " + tree + "/a/link", "file- " + tree + "/top.txt",
      "folder- " + tree,                 "folder- " + tree + "/a",    "folder- " + tree + "/a/b",
      "folder- " + tree + "/empty",
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(told_.Sorted(), expected);
  EXPECT_EQ(told_.lines.back(), "folder- " + tree);
  EXPECT_LT(told_.At("folder- " + tree + "/a/b"), told_.At("folder- " + tree + "/a"));
  EXPECT_TRUE(fs::exists("/etc")) << "the link went, not what it names";
}

TEST_F(ActionChangesTest, MovesTellARenameWithinAFileSystemAndACopyAndARemovalAcross) {
  Put(dir_ + "/in/m.txt", "m");
  ActionResult r = MoveFileAction(dir_ + "/in/m.txt", dir_ + "/out/", dir_ + "/in", told_.Hear());
  ASSERT_TRUE(r.ok) << r.error;
  fs::create_directories(dir_ + "/in/F/sub");
  r = MoveDirectoryAction(dir_ + "/in/F", dir_ + "/out", told_.Hear());
  ASSERT_TRUE(r.ok) << r.error;
  Put(dir_ + "/in/c.txt", "c");
  Put(dir_ + "/out/c.txt", "taken");
  r = CopyFileAction(dir_ + "/in/c.txt", dir_ + "/out", dir_ + "/in", told_.Hear());
  ASSERT_TRUE(r.ok) << r.error;
  r = DeleteFileAction(dir_ + "/in/c.txt", told_.Hear());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(told_.lines, (std::vector<std::string>{
                             "renamed " + dir_ + "/in/m.txt -> " + dir_ + "/out/m.txt",
                             "renamed " + dir_ + "/in/F -> " + dir_ + "/out/F",
                             "file+ " + dir_ + "/out/c(2).txt",
                             "file- " + dir_ + "/in/c.txt",
                         }));

  TestDir shm("/dev/shm");
  if (!shm.Made()) GTEST_SKIP() << "no tmpfs at /dev/shm to move from";
  told_.lines.clear();
  Put(shm.Path() + "/far.txt", "far");
  r = MoveFileAction(shm.Path() + "/far.txt", dir_ + "/out", shm.Path(), told_.Hear());
  ASSERT_TRUE(r.ok) << r.error;
  fs::create_directories(shm.Path() + "/G");
  Put(shm.Path() + "/G/g.txt", "g");
  r = MoveDirectoryAction(shm.Path() + "/G", dir_ + "/out", told_.Hear());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(told_.lines, (std::vector<std::string>{
                             "file+ " + dir_ + "/out/far.txt",
                             "file- " + shm.Path() + "/far.txt",
                             "folder+ " + dir_ + "/out/G",
                             "file+ " + dir_ + "/out/G/g.txt",
                             "file- " + shm.Path() + "/G/g.txt",
                             "folder- " + shm.Path() + "/G",
                         }))
      << "across file systems: the copy appears, then the source goes";
}

}  // namespace
}  // namespace vantrel
