#include "monitor/linux/MountTable.h"

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

TEST(MountTable, AServedMountIsFoundByNameAloneAndHidesWhatIsMountedBelowIt) {
  // Appended rather than added: GCC 12 sees a false bounds fault in the sum.
  std::string info(kInfo);
  info += "40 27 0:60 / /home/u/remote rw - fuse.sshfs u@host: rw\n"
          "41 40 0:61 / /home/u/remote/local rw - tmpfs tmpfs rw\n"
          "42 27 0:62 / /mnt/win rw - fuseblk /dev/sdc1 rw\n"
          "43 27 0:63 / /mnt/hang rw - fuse hang rw\n"
          // Mounted over an earlier mount at the same place: the later one counts.
          "44 27 0:64 / /mnt/share rw - ext4 /dev/sdd rw\n";
  const auto mounts = ParseMountInfo(info);
  struct Case {
    const char* path;
    const char* mountPoint;  // of the served mount it lies on, or "" for none
  };
  for (const Case& c : std::vector<Case>{{"/home/u/remote", "/home/u/remote"},
                                         {"/home/u/remote/a/b", "/home/u/remote"},
                                         {"/home/u/remote/local/x", ""},
                                         {"/home/u/remotely", ""},
                                         {"/mnt/win/x", "/mnt/win"},
                                         {"/mnt/hang", "/mnt/hang"},
                                         {"/mnt/share/x", ""},
                                         {"/data", ""}}) {
    const MountEntry* served = ServedMountOf(mounts, c.path);
    EXPECT_EQ(served ? served->mountPoint : std::string(), c.mountPoint) << c.path;
  }
  for (const char* type : {"fuse", "fuseblk", "fuse.bindfs", "nfs", "cifs", "9p"}) EXPECT_TRUE(IsServedFileSystemType(type)) << type;
  for (const char* type : {"ext4", "tmpfs", "btrfs", "vfat", "fusectl"}) EXPECT_FALSE(IsServedFileSystemType(type)) << type;
}

}  // namespace
}  // namespace vantrel
