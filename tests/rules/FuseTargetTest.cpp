// Copies and moves onto a FUSE file system, which refuses the rename flag
// and unnamed files that local file systems offer. bindfs stands for the
// others of its kind (network and user-space file systems).
#include "rules/FileActions.h"
#include "text/AtomicFile.h"
#include "FileHelpers.h"
#include "MountHelpers.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

class FuseTargetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"/back/in", "/back/out", "/local", "/mnt"}) fs::create_directories(dir_ + d);
    if (std::string why = mounts_.MountBindfs(dir_ + "/back", mnt_); !why.empty())
      GTEST_SKIP() << "cannot mount a FUSE file system here: " << why;
  }
  void TearDown() override { mounts_.UnmountAll(); }
  TestDir temp_;
  std::string dir_ = temp_.Path();
  std::string mnt_ = dir_ + "/mnt";
  std::string local_ = dir_ + "/local";
  Mounts mounts_;
};

TEST_F(FuseTargetTest, FilesAreCopiedNumberedAndMovedThereWithoutReplacingAnything) {
  const std::string out = mnt_ + "/out";
  Put(out + "/report.txt", "the user's own");
  Put(local_ + "/report.txt", "new");
  ActionResult r = CopyFileAction(local_ + "/report.txt", out, local_);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, out + "/report(1).txt");
  r = CopyFileAction(local_ + "/report.txt", out, local_);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, out + "/report(2).txt");
  EXPECT_EQ(Read(out + "/report(2).txt"), "new");
  EXPECT_EQ(Read(out + "/report.txt"), "the user's own");

  Put(mnt_ + "/in/m.txt", "moved within");
  std::vector<std::string> told;
  r = MoveFileAction(mnt_ + "/in/m.txt", out, mnt_ + "/in",
                     [&](const ActionChange& c) { told.push_back(std::to_string(c.kind) + " " + c.path + c.to); });
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(told, (std::vector<std::string>{std::to_string(ActionChange::FileAppeared) + " " + out + "/m.txt",
                                            std::to_string(ActionChange::FileVanished) + " " + mnt_ + "/in/m.txt"}))
      << "moved by a link: told as the appearance and the vanishing the change sources will see";
  EXPECT_EQ(Read(out + "/m.txt"), "moved within");
  EXPECT_FALSE(fs::exists(mnt_ + "/in/m.txt"));
  Put(mnt_ + "/in/m.txt", "second");
  r = MoveFileAction(mnt_ + "/in/m.txt", out, mnt_ + "/in");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, out + "/m(4).txt");
  EXPECT_EQ(Read(out + "/m.txt"), "moved within") << "never replaced";
  EXPECT_EQ(Read(out + "/m(4).txt"), "second");

  Put(local_ + "/far.txt", "from another file system");
  r = MoveFileAction(local_ + "/far.txt", out, local_);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(Read(out + "/far.txt"), "from another file system");
  EXPECT_FALSE(fs::exists(local_ + "/far.txt"));
  EXPECT_EQ(EntriesIn(dir_ + "/back/out"), 6u) << "nothing else, no temporary, was left";
  EXPECT_EQ(EntriesIn(dir_ + "/back/in"), 0u);
}

TEST_F(FuseTargetTest, FoldersAreCopiedMergedAndMovedThere) {
  const std::string out = mnt_ + "/out";
  fs::create_directories(local_ + "/D/sub");
  Put(local_ + "/D/a.txt", "a");
  Put(local_ + "/D/sub/b.txt", "b");
  fs::create_symlink("a.txt", local_ + "/D/link");
  ActionResult r = CopyDirectoryAction(local_ + "/D", out);
  ASSERT_TRUE(r.ok) << r.error;
  Put(local_ + "/D/a.txt", "newer a");
  r = CopyDirectoryAction(local_ + "/D", out);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(Read(out + "/D/a.txt"), "newer a");
  EXPECT_EQ(Read(out + "/D/sub/b.txt"), "b");
  EXPECT_EQ(fs::read_symlink(out + "/D/link"), "a.txt");
  EXPECT_EQ(EntriesIn(dir_ + "/back/out/D"), 3u) << "no temporary left";

  fs::create_directories(mnt_ + "/in/M/sub");
  Put(mnt_ + "/in/M/sub/c.txt", "c");
  r = MoveDirectoryAction(mnt_ + "/in/M", out);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(Read(out + "/M/sub/c.txt"), "c");
  EXPECT_FALSE(fs::exists(mnt_ + "/in/M"));
  fs::create_directories(mnt_ + "/in/M");
  Put(mnt_ + "/in/M/c.txt", "another M");
  r = MoveDirectoryAction(mnt_ + "/in/M", out);
  EXPECT_FALSE(r.ok) << "a folder of that name is there";
  EXPECT_EQ(Read(out + "/M/sub/c.txt"), "c");
  EXPECT_FALSE(fs::exists(out + "/M/c.txt")) << "nothing was merged into it";
  EXPECT_EQ(Read(mnt_ + "/in/M/c.txt"), "another M") << "the source stays";

  fs::create_directories(local_ + "/N/sub");
  Put(local_ + "/N/sub/d.txt", "d");
  r = MoveDirectoryAction(local_ + "/N", out);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(Read(out + "/N/sub/d.txt"), "d");
  EXPECT_FALSE(fs::exists(local_ + "/N"));
}

}  // namespace
}  // namespace vantrel
