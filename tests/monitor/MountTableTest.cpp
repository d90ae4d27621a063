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

}  // namespace
}  // namespace vantrel
