#include "rules/RulePreview.h"
#include "text/PathRoutines.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

// Every entry below dir with its size and time: what "changes nothing" means.
std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> Snapshot(const std::string& dir) {
  std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> all;
  for (const auto& e : fs::recursive_directory_iterator(PathFromUtf8(dir)))
    all[Utf8FromPath(e.path())] = {e.is_regular_file() ? e.file_size() : 0, e.last_write_time()};
  return all;
}

// A copy rule tried over a folder of a thousand files lists what it would
// do, numbered names included, and leaves every byte and time as it was.
TEST(RulePreview, ACopyRuleOverAThousandFilesChangesNothing) {
  TestDir temp;
  const std::string in = CleanPath(JoinPath(temp.Path(), "下载")), out = CleanPath(JoinPath(temp.Path(), "PDF"));
  fs::create_directories(PathFromUtf8(JoinPath(in, "子")));
  fs::create_directories(PathFromUtf8(out));
  for (int i = 0; i < 1000; ++i)
    std::ofstream(PathFromUtf8(JoinPath(i % 10 ? in : JoinPath(in, "子"), "f" + std::to_string(i) + ".pdf"))) << i;
  std::ofstream(PathFromUtf8(JoinPath(in, "笔记.txt"))) << "notes";
  std::ofstream(PathFromUtf8(JoinPath(out, "f1.pdf"))) << "taken";
  const auto before = Snapshot(temp.Path());

  const MonitorRule rule{"新建文件", JoinPath(in, "*.pdf"), "【复制文件】" + out, false};
  const RulePreview preview = PreviewRuleOnFolder(rule);
  EXPECT_EQ(preview.note, "");
  ASSERT_EQ(preview.lines.size(), 1000u) << "every PDF, in the subfolder too, and no text file";
  EXPECT_FALSE(preview.more);
  std::map<std::string, std::string> byPath;
  for (const PreviewLine& line : preview.lines) byPath[line.path] = line.what;
  EXPECT_EQ(byPath[JoinPath(in, "f2.pdf")], "复制到 " + JoinPath(out, "f2.pdf"));
  const std::string numbered = byPath[JoinPath(in, "f1.pdf")], expected = "复制到 " + JoinPath(out, "f1") + "(";
  EXPECT_EQ(numbered.rfind(expected, 0), 0u) << numbered << ": a taken name is numbered";
  EXPECT_EQ(byPath.count(JoinPath(in, "笔记.txt")), 0u);
  EXPECT_EQ(Snapshot(temp.Path()), before) << "nothing on disk changed";

  EXPECT_TRUE(PreviewRuleOnFolder(rule, 10).more);
  EXPECT_NE(PreviewRuleOnFolder({"新建文件", "~/下载", "【删除文件】"}).note, "") << "a rule that can never act says so";

  const std::vector<ListedChange> listed = {{JoinPath(in, "x.pdf"), "新建文件", "x.pdf"},
                                            {JoinPath(in, "x.txt"), "新建文件", "x.txt"},
                                            {JoinPath(in, "y.pdf"), "删除文件", "y.pdf"}};
  const std::vector<PreviewLine> onRows = PreviewRuleOnChanges(rule, listed);
  ASSERT_EQ(onRows.size(), 1u) << "only the new PDF";
  EXPECT_EQ(onRows[0].path, JoinPath(in, "x.pdf"));
  const std::vector<PreviewLine> run = PreviewRuleOnChanges(
      {"新建文件", in, "【执行程序】/usr/bin/lp§-t #文件名 #路径§1"}, listed);
  ASSERT_EQ(run.size(), 2u);
  EXPECT_EQ(run[0].what, "执行 /usr/bin/lp -t x.pdf " + JoinPath(in, "x.pdf"));
}

}  // namespace
}  // namespace vantrel
