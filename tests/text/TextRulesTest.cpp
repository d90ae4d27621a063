#include "text/PathRoutines.h"
#include "text/TextRules.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using Pieces = std::vector<std::string>;

TEST(TextFind, EmptyTextRulesAndOneBasedPositions) {
  EXPECT_EQ(TextFind("abc", ""), 1u);
  EXPECT_EQ(TextFind("", ""), 0u);
  EXPECT_EQ(TextFind("", "a"), 0u);
  EXPECT_EQ(TextFind("abcabc", "c"), 3u);
  EXPECT_EQ(TextFind("abcabc", "c", 4), 6u);
  EXPECT_EQ(TextFind("abc", "abcd"), 0u);
  EXPECT_FALSE(TextContains("Path", "path")) << "containment is case-sensitive";
}

TEST(TextFind, NeverMatchesInsideAMultiByteCharacter) {
  // "中" is E4 B8 AD; a needle made of its trailing bytes must not match.
  EXPECT_EQ(TextFind("中文", "\xB8\xAD"), 0u);
  EXPECT_EQ(TextFind("a中文", "文"), 5u);
  EXPECT_TRUE(TextContains("/home/用户/文档", "用户/文"));
}

TEST(SplitText, KeepsEmptyMiddlePiecesAndDropsAnEmptyLastOne) {
  EXPECT_EQ(SplitText("a*b", "*"), (Pieces{"a", "b"}));
  EXPECT_EQ(SplitText("a**b", "*"), (Pieces{"a", "", "b"}));
  EXPECT_EQ(SplitText("*a", "*"), (Pieces{"", "a"}));
  EXPECT_EQ(SplitText("a*", "*"), (Pieces{"a"}));
  EXPECT_EQ(SplitText("", "*"), Pieces{});
  EXPECT_EQ(SplitText("1010*800", "*"), (Pieces{"1010", "800"}));
  EXPECT_EQ(SplitText("新建文件｜/a｜复制", "｜"), (Pieces{"新建文件", "/a", "复制"}));
}

TEST(Replace, AllOccurrencesWithAndWithoutCase) {
  EXPECT_EQ(ReplaceAll("hh:mm:hh", "hh", "HH"), "HH:mm:HH");
  EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceAllIgnoreCase("#Path #PATH #路径", "#path", "x"), "x x #路径");
  EXPECT_EQ(ReplaceAll("路径#路径", "#路径", "/tmp"), "路径/tmp");
}

TEST(LeadingInteger, TakesOnlyLeadingDigits) {
  EXPECT_EQ(LeadingInteger("1010"), 1010);
  EXPECT_EQ(LeadingInteger("800px"), 800);
  EXPECT_EQ(LeadingInteger("abc"), 0);
  EXPECT_EQ(LeadingInteger(""), 0);
  EXPECT_EQ(LeadingInteger(" 5"), 0);
  EXPECT_EQ(LeadingInteger("99999999999999999999999"), INT64_MAX);
}

#ifndef _WIN32
TEST(PathRoutines, FileNamesAndExtensions) {
  EXPECT_EQ(PathFileName("/dir/"), "");
  EXPECT_EQ(PathFileName("/dir/file.tar.gz", false), "file.tar");
  EXPECT_EQ(PathFileName("/dir/file.tar.gz"), "file.tar.gz");
  EXPECT_EQ(PathFileName("/dir/noext", false), "noext");
  EXPECT_EQ(PathExtension("a.b.txt"), ".txt");
  EXPECT_EQ(PathExtension("README"), "");
  EXPECT_EQ(PathExtension("/a.d/file"), "");
  EXPECT_TRUE(IsDirectoryPath("/tmp"));
  EXPECT_FALSE(IsDirectoryPath("/proc/self/status"));
  EXPECT_FALSE(IsDirectoryPath("/no/such/dir"));
  EXPECT_EQ(JoinPath("/", "a"), "/a");
  EXPECT_EQ(JoinPath("/x", "a"), "/x/a");
}

TEST(PathRoutines, CleanPathDropsDoubledAndTrailingSeparatorsAndDotsButKeepsParents) {
  EXPECT_EQ(CleanPath("/data//out/"), "/data/out");
  EXPECT_EQ(CleanPath("//data/./out/."), "/data/out");
  EXPECT_EQ(CleanPath("/data/in/../out"), "/data/in/../out") << "a link may stand before ..";
  EXPECT_EQ(CleanPath("/"), "/");
  EXPECT_EQ(CleanPath("///./"), "/");
  EXPECT_EQ(CleanPath("./a//b"), "a/b");
  EXPECT_EQ(CleanPath("./"), ".");
  EXPECT_EQ(CleanPath(""), "");
  EXPECT_EQ(CleanPath(".hidden/.x./..."), ".hidden/.x./...") << "only a lone dot is a component to drop";
}

#else
// Windows paths: "\\" is the separator and "/" is taken as one too.
TEST(PathRoutines, WindowsPathsSplitJoinAndCleanOnEitherSeparator) {
  EXPECT_EQ(PathFileName("C:\\dir\\file.tar.gz"), "file.tar.gz");
  EXPECT_EQ(PathFileName("C:\\dir/file.tar.gz", false), "file.tar");
  EXPECT_EQ(PathExtension("C:\\a.b\\noext"), "") << "a dot in a folder's name is no extension";
  EXPECT_EQ(JoinPath("C:\\", "a"), "C:\\a");
  EXPECT_EQ(JoinPath("C:\\x", "a"), "C:\\x\\a");
  EXPECT_EQ(CleanPath("C:\\data\\\\out\\"), "C:\\data\\out");
  EXPECT_EQ(CleanPath("C:/data/./out"), "C:\\data\\out");
  EXPECT_EQ(CleanPath("\\\\server\\share\\\\x"), "\\\\server\\share\\x") << "a UNC path keeps its two";
  EXPECT_TRUE(PathWithin("C:\\in\\a.txt", "C:\\in"));
  EXPECT_TRUE(PathWithin("C:\\in/a.txt", "C:\\in"));
  EXPECT_FALSE(PathWithin("C:\\inbox\\a.txt", "C:\\in"));
  EXPECT_TRUE(PathWithin("C:\\in\\a.txt", "C:\\"));
  EXPECT_TRUE(IsAbsolutePath("C:\\x"));
  EXPECT_TRUE(IsAbsolutePath("\\\\server\\share"));
  EXPECT_FALSE(IsAbsolutePath("x\\y"));
  EXPECT_FALSE(IsAbsolutePath("C:x"));
}
#endif

}  // namespace
}  // namespace vantrel
