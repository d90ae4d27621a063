#include "monitor/MountTable.h"

#include "TestDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vantrel {
namespace {

const char* kInfo =
    "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
    "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
    "30 27 8:17 / /media/u/USB\\040STICK rw,nosuid shared:5 - vfat /dev/sdb1 rw\n"
    "31 27 0:50 / /mnt/share rw - nfs4 server:/x rw\n"
    "32 27 254:0 /srv /data rw - ext4 /dev/vda rw\n";

TEST(MountTable, ParsesEscapesAndOptionalFields) {
  auto mounts = ParseMountInfo(kInfo);
  ASSERT_EQ(mounts.size(), 5u);
  EXPECT_EQ(mounts[2].mountPoint, "/media/u/USB STICK");
  EXPECT_EQ(mounts[2].type, "vfat");
  EXPECT_EQ(mounts[4].root, "/srv");
  EXPECT_EQ(ParseMountInfo("garbage line\n\n").size(), 0u);
}

TEST(MountTable, WholeDiskRootsAreHomeAndLocalRemovableMedia) {
  auto roots = WholeDiskRoots("/home/u", ParseMountInfo(kInfo));
  EXPECT_EQ(roots, (std::vector<std::string>{"/home/u", "/media/u/USB STICK"})) << "the network share is left out";
  EXPECT_FALSE(IsLocalFileSystemType("proc"));
  EXPECT_TRUE(IsLocalFileSystemType("btrfs"));
}

TEST(MountTable, RootsInsideOtherRootsAreDropped) {
  EXPECT_EQ(NormaliseRoots({"/a/b", "/a/", "/ab", "/a", "relative", "/c//"}),
            (std::vector<std::string>{"/a", "/ab", "/c"}));
}

TEST(MountTable, CustomPathRootsAreTheNearestExistingFolders) {
  TestDir temp;
  const std::string& t = temp.Path();
  std::filesystem::create_directories(t + "/here/in");
  std::vector<std::string> wholeRoots{"/home/u", "/media/usb"};
  int asked = 0;
  auto whole = [&] {
    ++asked;
    return wholeRoots;
  };
  EXPECT_EQ(CustomPathRoots({t + "/here/in", t + "/here/later/deeper", "G"}, "G", whole),
            (std::vector<std::string>{t + "/here"}))
      << "a folder made later is seen through its nearest existing parent; the marker names nothing";
  EXPECT_EQ(asked, 0) << "the mount table is read only when needed";
  EXPECT_EQ(CustomPathRoots({t + "/here/in/"}, "G", whole), (std::vector<std::string>{t + "/here/in"}));
  EXPECT_EQ(CustomPathRoots({".txt", t + "/here/in"}, "G", whole),
            (std::vector<std::string>{"/home/u", "/media/usb", t + "/here/in"}))
      << "a bare text matches anywhere: the whole-disk roots";
  EXPECT_EQ(CustomPathRoots({"/no-such-top-folder"}, "G", whole), wholeRoots);
  EXPECT_TRUE(CustomPathRoots({}, "G", whole).empty());
}

TEST(MountTable, AddedMountPoints) {
  auto before = ParseMountInfo(kInfo);
  auto after = before;
  after.pop_back();
  after.push_back({"/media/new", "/", "ext4", "/dev/sdc1"});
  EXPECT_EQ(AddedMountPoints(before, after), (std::vector<std::string>{"/media/new"}));
  EXPECT_EQ(AddedMountPoints(after, before), (std::vector<std::string>{"/data"}));
}

}  // namespace
}  // namespace vantrel
