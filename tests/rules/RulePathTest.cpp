#include "rules/RuleMatcher.h"
#include "rules/RulePath.h"
#include "text/Codec.h"
#include "text/PathRoutines.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace vantrel {
namespace {

// Paths spelled with the system's separator, from "/"-separated text.
std::string Native(std::string path) {
  for (char& c : path)
    if (c == '/') c = kPathSeparator;
  return path;
}

#ifdef _WIN32
const std::string kRoot = "C:";
constexpr bool kFoldsCase = true;
#else
const std::string kRoot;
constexpr bool kFoldsCase = false;
#endif

TEST(RulePath, WhichChangesARulePathTakes) {
  struct Case {
    std::string rule, path, name;
    bool takes;
  };
  const std::string a = kRoot + "/u/A";
  const Case cases[] = {
      // Without patterns a rule matches by text, as rule files rely on.
      {a, a + "/x.txt", "x.txt", true},
      {a, a + "2/x.txt", "x.txt", true},
      {"/data", kRoot + "/old/database/x", "x", true},
      // With them, the folder is named whole and the name decides.
      {a + "/*.pdf", a + "/报告.pdf", "报告.pdf", true},
      {a + "/*.pdf", a + "/sub/深/报告.pdf", "报告.pdf", true},
      {a + "/*.pdf", a + "/笔记.txt", "笔记.txt", false},
      {a + "/*.pdf", a + "2/报告.pdf", "报告.pdf", false},
      {a + "/*.pdf", kRoot + "/u/xA/报告.pdf", "报告.pdf", false},
      {a + "/*.jpg; *.png", a + "/p.png", "p.png", true},
      {a + "/*.jpg; *.png", a + "/p.gif", "p.gif", false},
      {a + "/报告*", a + "/报告2024.docx", "报告2024.docx", true},
      {a + "/报告*", a + "/年度报告.docx", "年度报告.docx", false},
      {a + "/??.txt", a + "/笔记.txt", "笔记.txt", true},
      {a + "/??.txt", a + "/笔.txt", "笔.txt", false},
      {a + "/*a*b*c", a + "/xaybzc", "xaybzc", true},
      {a + "/*a*b*c", a + "/xaybzcd", "xaybzcd", false},
      // The new name of a renamed item, not the old path's, is matched.
      {a + "/*.pdf", a + "/下载中.part", "报告.pdf", true},
      {a + "/*.pdf", a + "/x.PDF", "x.PDF", kFoldsCase},
      {"\\\\全局路径", a + "/x", "x", true},
      {"*.pdf", kRoot + "/any/where.pdf", "where.pdf", true},
      {kRoot + "/*.pdf", kRoot + "/top.pdf", "top.pdf", true},
  };
  for (const Case& c : cases) {
    const std::string rule = c.rule.rfind("\\\\", 0) == 0 ? c.rule : Native(c.rule);
    EXPECT_EQ(RulePathTakes(rule, Native(c.path), c.name), c.takes) << c.rule << " / " << c.path << " / " << c.name;
  }
}

TEST(RulePath, APatternRuleIsAnOrdinaryRuleInTheFileAndFiresOnlyForItsNames) {
  const MonitorRule rule{"新建文件", Native(kRoot + "/下载/*.pdf"), "【复制文件】" + Native(kRoot + "/文档/PDF")};
  const std::string plain = SerializeRules({rule});
  // What an older reader deciphers: three fields, the pattern inside the path.
  EXPECT_EQ(Gb18030ToUtf8(plain), "新建文件｜√" + rule.monitoredPath + "｜" + rule.actionText + "\r\n");
  const RuleFileContent read = ParseRules(plain);
  ASSERT_EQ(read.rules.size(), 1u);
  EXPECT_EQ(read.rules[0], rule);
  EXPECT_EQ(SerializeRules(read.rules, read.kept), plain);
  EXPECT_FALSE(WhyRuleNeverActs(rule));
  EXPECT_TRUE(RuleFires(rule, Native(kRoot + "/下载/a.pdf"), EventKind::FileCreated, "a.pdf"));
  EXPECT_FALSE(RuleFires(rule, Native(kRoot + "/下载/笔记.txt"), EventKind::FileCreated, "笔记.txt"));
  EXPECT_FALSE(RuleFires(rule, Native(kRoot + "/下载/a.pdf"), EventKind::FolderCreated, "a.pdf"));
}

TEST(RulePath, TypedPathsAreMadeUsableOrRefusedWithTheReason) {
  TestDir temp;
  const std::string home = temp.Path();
  std::filesystem::create_directories(PathFromUtf8(home + "/下载"));
  std::ofstream(PathFromUtf8(home + "/文件.txt")) << "x";
  struct Case {
    std::string typed;
    PathRole role;
    std::string path;     // relative to home when not empty
    std::string refused;  // a word the refusal holds
    std::string missing;  // relative to home
  };
  const Case cases[] = {
      {"~", PathRole::Watched, "", "", ""},
      {"~/下载", PathRole::Watched, "/下载", "", ""},
      {"  ~/下载/  ", PathRole::Watched, "/下载", "", ""},
      {"~/下载/*.pdf", PathRole::Watched, "/下载/*.pdf", "", ""},
      {"~/下载/*.pdf", PathRole::Target, "", "通配符", ""},
      {"~//下载/./新/", PathRole::Watched, "/下载/新", "", "/下载/新"},
      {"~/下载/../文档/PDF", PathRole::Target, "/文档/PDF", "", "/文档/PDF"},
      {"~/文件.txt", PathRole::Target, "", "不是文件夹", ""},
      {"~/文件.txt", PathRole::Watched, "/文件.txt", "", ""},
      {"~/下载/将来.pdf", PathRole::Watched, "/下载/将来.pdf", "", ""},
      {"~other/下载", PathRole::Watched, "", "~", ""},
      {"$HOME/下载", PathRole::Watched, "", "$HOME", ""},
      {"${HOME}/下载", PathRole::Watched, "", "${HOME", ""},
      {"%USERPROFILE%\\下载", PathRole::Target, "", "%USERPROFILE%", ""},
      {"下载", PathRole::Watched, "", "不是完整路径", ""},
      {"./下载", PathRole::Target, "", "不是完整路径", ""},
  };
  for (const Case& c : cases) {
    const TypedPath checked = CheckTypedPath(c.typed, home, c.role);
    if (!c.refused.empty()) {
      EXPECT_NE(checked.refusal.find(c.refused), std::string::npos) << c.typed << ": " << checked.refusal;
      continue;
    }
    EXPECT_EQ(checked.refusal, "") << c.typed;
    EXPECT_EQ(checked.path, CleanPath(home + Native(c.path))) << c.typed;
    EXPECT_EQ(checked.missingFolder, c.missing.empty() ? "" : CleanPath(home + Native(c.missing))) << c.typed;
  }
  // A folder offered to be made is made, with any missing above it.
  const std::string deep = CleanPath(home + Native("/文档/PDF/年"));
  EXPECT_FALSE(MakeFolders(deep));
  EXPECT_TRUE(IsDirectoryPath(deep));
  EXPECT_TRUE(MakeFolders(Native(home + "/文件.txt/里面")));
  EXPECT_EQ(CheckTypedPath("\\\\全局路径", home, PathRole::Watched).path, "\\\\全局路径");
}

TEST(RulePath, RulesThatCanNeverActAreToldWhy) {
  const std::string clean = Native(kRoot + "/u/下载");
  struct Case {
    MonitorRule rule;
    bool never;
  };
  const Case cases[] = {
      {{"新建文件", clean, "【复制文件】" + clean}, false},
      {{"新建文件", clean + Native("/*.pdf"), "【复制文件】" + clean}, false},
      {{"新建文件", "data", "【删除文件】"}, false},  // text matching finds it anywhere
      {{"新建文件", "", "【删除文件】"}, false},
      {{"新建文件", "\\\\全局路径", "【删除文件】"}, false},
      {{"新建文件", "~/下载", "【复制文件】" + clean}, true},
      {{"新建文件", "$HOME/下载", "【复制文件】" + clean}, true},
      {{"新建文件", Native(kRoot + "/u//下载"), "【复制文件】" + clean}, true},
      {{"新建文件", Native(kRoot + "/u/./下载/*.pdf"), "【复制文件】" + clean}, true},
      {{"新建文件", Native(kRoot + "/u/../下载"), "【复制文件】" + clean}, true},
      {{"新建东西", clean, "【复制文件】" + clean}, true},
      {{"新建文件", clean, "【压缩文件】" + clean}, true},
#ifndef _WIN32
      {{"新建文件", "D:\\下载", "【复制文件】/x"}, true},
#endif
  };
  for (const Case& c : cases) {
    const std::optional<std::string> why = WhyRuleNeverActs(c.rule);
    EXPECT_EQ(why.has_value(), c.never) << c.rule.eventName << " " << c.rule.monitoredPath << " " << c.rule.actionText;
    if (why) {
      EXPECT_FALSE(why->empty());
    }
  }
}

}  // namespace
}  // namespace vantrel
