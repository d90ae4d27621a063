#include "monitor/Decode.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

// Absolute paths of the system the test runs on ("C:/a" is one on Windows).
#ifdef _WIN32
const std::string R = "C:";
#else
const std::string R;
#endif

ChangeNotification N(std::uint32_t code, std::optional<std::string> a, std::optional<std::string> b = std::nullopt) {
  ChangeNotification n;
  n.code = code;
  n.item1 = std::move(a);
  n.item2 = std::move(b);
  return n;
}

TEST(DecodeEventName, ExactCodesOnly) {
  EXPECT_EQ(DecodeEventName(0x2000), "更新文件");
  EXPECT_EQ(DecodeEventName(0x2001), "");
  EXPECT_EQ(DecodeEventName(0x80000000), "系统中断");
  EXPECT_EQ(DecodeEventName(SHCNE_DISKEVENTS), "磁盘事件");
  EXPECT_EQ(DecodeEventName(SHCNE_DRIVEADDGUI), "SHCNE_DRIVEADDGUI（XP及以后系统未使用）");
  EXPECT_EQ(DecodeEventName(SHCNE_RENAMEFOLDER), "重命名目录");
  EXPECT_EQ(DecodeEventName(0), "");
}

// The kinds the program lists, their codes and their stored names: each
// name is its code's word, and the three turn into each other; everything
// else is no kind.
TEST(EventKinds, CodesNamesAndKindsTurnIntoEachOther) {
  const std::vector<std::pair<EventKind, const char*>> kinds = {
      {EventKind::FileCreated, "新建文件"},   {EventKind::FileDeleted, "删除文件"},
      {EventKind::FileUpdated, "更新文件"},   {EventKind::FileRenamed, "重命名文件"},
      {EventKind::FolderCreated, "新建目录"}, {EventKind::FolderDeleted, "删除目录"},
      {EventKind::FolderRenamed, "重命名目录"}};
  for (const auto& [kind, name] : kinds) {
    EXPECT_EQ(EventKindName(kind), name);
    EXPECT_EQ(EventKindOfName(name), kind) << name;
    EXPECT_EQ(DecodeEventName(CodeOfKind(kind)), name);
    EXPECT_EQ(KindOfCode(CodeOfKind(kind)), kind) << name;
  }
  for (std::uint32_t code : std::vector<std::uint32_t>{SHCNE_UPDATEDIR, SHCNE_ATTRIBUTES, SHCNE_DRIVEADD})
    EXPECT_EQ(KindOfCode(code), EventKind::None) << code;
  for (const char* text : {"删除", "新建文件 ", "文件属性改变"}) EXPECT_EQ(EventKindOfName(text), EventKind::None) << text;
  // A code without a name is a kind of its own, nameless, as earlier
  // versions list it.
  EXPECT_EQ(KindOfCode(0x2001), EventKind::Unnamed);
  EXPECT_EQ(EventKindOfName(""), EventKind::Unnamed);
  EXPECT_EQ(EventKindName(EventKind::Unnamed), "");
  EXPECT_EQ(EventKindName(EventKind::None), "");
}

TEST(DecodeNotification, RenameTakesTheNewNameAndTheOldPath) {
  auto e = DecodeNotification(N(SHCNE_RENAMEITEM, R + "/a/old.txt", R + "/a/new.txt"));
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, EventKind::FileRenamed);
  EXPECT_EQ(e->name, "new.txt");
  EXPECT_EQ(e->path, R + "/a/old.txt");
  EXPECT_EQ(e->newPath, R + "/a/new.txt");
}

TEST(DecodeNotification, OneItemAndTheSameItemTwice) {
  auto e = DecodeNotification(N(SHCNE_CREATE, R + "/home/u/文档/报告.txt", R + "/home/u/文档/报告.txt"));
  ASSERT_TRUE(e);
  EXPECT_EQ(e->name, "报告.txt");
  EXPECT_EQ(e->path, R + "/home/u/文档/报告.txt");
  EXPECT_EQ(e->newPath, "");
#ifdef _WIN32
  auto root = DecodeNotification(N(SHCNE_DRIVEADD, "C:\\"));
  ASSERT_TRUE(root);
  EXPECT_EQ(root->name, "C:") << "a drive names itself";
#else
  auto root = DecodeNotification(N(SHCNE_DRIVEADD, "/"));
  ASSERT_TRUE(root);
  EXPECT_EQ(root->name, "/");
#endif
  auto none = DecodeNotification(N(SHCNE_UPDATEIMAGE, std::nullopt));
  ASSERT_TRUE(none) << "a notification without items still decodes";
  EXPECT_EQ(none->path, "");
}

TEST(DecodeNotification, AnItemWithoutADisplayNameDropsTheWholeNotification) {
  EXPECT_FALSE(DecodeNotification(N(SHCNE_CREATE, "")));
  EXPECT_FALSE(DecodeNotification(N(SHCNE_RENAMEITEM, R + "/a/old", "relative")));
  EXPECT_FALSE(DecodeNotification(N(SHCNE_RENAMEITEM, "", R + "/a/new")));
  EXPECT_EQ(ItemDisplayName(R + "/a/dir/"), "dir");
  EXPECT_EQ(ItemPath("not/absolute"), "");
}

}  // namespace
}  // namespace vantrel
