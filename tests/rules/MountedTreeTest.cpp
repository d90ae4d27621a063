// Folder actions where mounts make a tree reach itself, and a deep tree moved
// onto another file system.
#include "rules/FileActions.h"
#include "text/AtomicFile.h"
#include "FileHelpers.h"
#include "MountHelpers.h"
#include "TestDir.h"
#include "TreeHelpers.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

class MountedTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"/in/keep", "/in/loop", "/out", "/view"}) fs::create_directories(dir_ + d);
    Put(dir_ + "/in/a.txt", "a");
  }
  void TearDown() override { mounts_.UnmountAll(); }
  void MountOrSkip(const std::string& source, const std::string& at, const char* type, unsigned long flags,
                   const char* options) {
    if (std::string why = mounts_.Mount(source, at, type, flags, options); !why.empty())
      GTEST_SKIP() << "cannot mount here (" << why << "); needs root";
  }
  TestDir temp_;
  std::string dir_ = temp_.Path();
  Mounts mounts_;
};

TEST_F(MountedTreeTest, ATargetReachedThroughABindMountOfTheSourceIsRefused) {
  MountOrSkip(dir_ + "/in", dir_ + "/view", nullptr, MS_BIND, nullptr);
  const auto before = Snapshot(dir_ + "/in");
  ActionResult copied = CopyDirectoryAction(dir_ + "/in", dir_ + "/view/keep");
  EXPECT_EQ(copied.error, FileErrorText(kTargetInsideSource));
  ActionResult moved = MoveDirectoryAction(dir_ + "/in", dir_ + "/view/keep");
  EXPECT_EQ(moved.error, FileErrorText(kTargetInsideSource));
  EXPECT_EQ(Snapshot(dir_ + "/in"), before);
  EXPECT_EQ(EntriesIn(dir_ + "/out"), 0u);
}

TEST_F(MountedTreeTest, AFolderMountedInsideItselfIsCopiedOnceNotForever) {
  MountOrSkip(dir_ + "/in", dir_ + "/in/loop", nullptr, MS_BIND, nullptr);
  ActionResult r = CopyDirectoryAction(dir_ + "/in", dir_ + "/out");
  EXPECT_FALSE(r.ok) << "the folder met again is named in the result";
  EXPECT_NE(r.error.find(FileErrorText(kFolderLoop)), std::string::npos) << r.error;
  EXPECT_EQ(Read(dir_ + "/out/in/a.txt"), "a") << "the rest is copied";
  EXPECT_TRUE(fs::is_directory(dir_ + "/out/in/keep"));
  EXPECT_FALSE(fs::exists(dir_ + "/out/in/loop/a.txt")) << "the source was not copied again inside its copy";
}

TEST_F(MountedTreeTest, ADeepTreeIsMovedToAnotherFileSystemWithFewDescriptors) {
  MountOrSkip("tmpfs", dir_ + "/out", "tmpfs", 0, "size=64m");
  MakeDeepTree(dir_ + "/in/deep", 1000);
  {
    DescriptorLimit limit(256);
    ASSERT_TRUE(limit.Set());
    ActionResult r = MoveDirectoryAction(dir_ + "/in/deep", dir_ + "/out");
    EXPECT_TRUE(r.ok) << r.error;
  }
  EXPECT_EQ(DeepTreeLevels(dir_ + "/out/deep"), 1000);
  EXPECT_FALSE(fs::exists(dir_ + "/in/deep")) << "the source goes once copied";
}

}  // namespace
}  // namespace vantrel
