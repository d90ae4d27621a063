#include "monitor/WatchRoots.h"

#include "TestDir.h"
#include "platform/ThisProcess.h"
#include "text/PathRoutines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace vantrel {
namespace {

#ifdef _WIN32
const std::string kHome = "C:\\Users\\u";
const std::string kMedia = "E:\\";
#else
const std::string kHome = "/home/u";
const std::string kMedia = "/media/usb";
#endif

TEST(WatchRoots, RootsInsideOtherRootsAreDropped) {
#ifdef _WIN32
  EXPECT_EQ(NormaliseRoots({"C:\\a\\b", "C:/a/", "C:\\ab", "relative", "D:\\", "D:\\x", "\\\\srv\\share\\x\\\\",
                            "C:", "C:\\c\\\\.\\"}),
            (std::vector<std::string>{"C:\\a", "C:\\ab", "C:\\c", "D:\\", "\\\\srv\\share\\x"}))
      << "a drive's root keeps its separator and holds the whole drive; C: alone is relative";
  EXPECT_EQ(NormaliseRoots({"C:\\CF\\A", "c:\\cf\\a", "c:\\cf\\a\\SUB"}), (std::vector<std::string>{"C:\\CF\\A"}))
      << "one folder, however its letters are cased, is watched once";
#else
  EXPECT_EQ(NormaliseRoots({"/a/b", "/a/", "/ab", "/a", "relative", "/c//"}),
            (std::vector<std::string>{"/a", "/ab", "/c"}));
  EXPECT_EQ(NormaliseRoots({"/CF/A", "/cf/a"}), (std::vector<std::string>{"/CF/A", "/cf/a"}))
      << "letter case names another folder here";
#endif
}

TEST(WatchRoots, CustomPathRootsAreTheNearestExistingFolders) {
  TestDir temp;
  const std::string t = CleanPath(temp.Path());
  std::filesystem::create_directories(PathFromUtf8(JoinPath(t, "here/in")));
  const std::string here = JoinPath(t, "here"), in = CleanPath(JoinPath(here, "in"));
  std::vector<std::string> wholeRoots{kHome, kMedia};
  int asked = 0;
  auto whole = [&] {
    ++asked;
    return wholeRoots;
  };
  EXPECT_EQ(CustomPathRoots({in, JoinPath(here, "later/deeper"), "G"}, "G", whole), (std::vector<std::string>{here}))
      << "a folder made later is seen through its nearest existing parent; the marker names nothing";
  EXPECT_EQ(asked, 0) << "the volumes are asked for only when needed";
  EXPECT_EQ(CustomPathRoots({in + kPathSeparator}, "G", whole), (std::vector<std::string>{in}));
  std::vector<std::string> withWhole{kHome, kMedia, in};
  // In the order of their keys: on Windows letter case aside.
  std::sort(withWhole.begin(), withWhole.end(), [](const auto& a, const auto& b) { return PathKey(a) < PathKey(b); });
  EXPECT_EQ(CustomPathRoots({".txt", in}, "G", whole), withWhole) << "a bare text matches anywhere: the whole-disk roots";
#ifdef _WIN32
  EXPECT_EQ(CustomPathRoots({"C:\\no-such-top-folder"}, "G", whole), (std::vector<std::string>{"C:\\"}))
      << "the drive's root holds the folder when it is made";
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(CustomPathRoots({"C:relative"}, "G", whole), wholeRoots) << "a path relative to a drive names no folder";

  // A drive that is not there: its rule waits for it, and nothing else is
  // watched for it.
  char absent = 'Y';
  while (absent > 'D' && IsDirectoryPath(std::string(1, absent) + ":\\")) --absent;
  ASSERT_GT(absent, 'D') << "every drive letter is taken";
  const std::string away = std::string(1, absent) + ":\\data\\in";
  std::vector<std::string> waiting;
  asked = 0;
  EXPECT_EQ(CustomPathRoots({away, in}, "G", whole, &waiting), (std::vector<std::string>{in}));
  EXPECT_EQ(waiting, (std::vector<std::string>{away}));
  EXPECT_EQ(asked, 0) << "a missing drive is no reason to watch every other one";
#else
  EXPECT_EQ(CustomPathRoots({"/no-such-top-folder"}, "G", whole), wholeRoots);
#endif
  EXPECT_TRUE(CustomPathRoots({}, "G", whole).empty());
}

#ifdef _WIN32
TEST(WatchRoots, WholeDiskIsEveryDriveWithFiles) {
  std::vector<std::string> roots = WholeDiskRoots();
  EXPECT_NE(std::find(roots.begin(), roots.end(), "C:\\"), roots.end());
  for (const std::string& root : roots) {
    EXPECT_EQ(root.size(), 3u) << root;
    EXPECT_TRUE(IsDirectoryPath(root)) << root;
  }
}
#endif

}  // namespace
}  // namespace vantrel
