#include "text/Codec.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(Codec, ProgramLiteralsHaveTheirCodePage936Bytes) {
  // Bytes as earlier versions wrote them; GB18030 must match them exactly.
  EXPECT_EQ(Utf8ToGb18030("真"), "\xD5\xE6");
  EXPECT_EQ(Utf8ToGb18030("假"), "\xBC\xD9");
  EXPECT_EQ(Utf8ToGb18030("新建文件"), "\xD0\xC2\xBD\xA8\xCE\xC4\xBC\xFE");
  EXPECT_EQ(Utf8ToGb18030("程序尺寸"), "\xB3\xCC\xD0\xF2\xB3\xDF\xB4\xE7");
  EXPECT_EQ(Utf8ToGb18030("｜"), "\xA3\xFC");
  EXPECT_EQ(Utf8ToGb18030(" ┃ "), " \xA9\xA7 ");
  for (const char* literal : {"监控类型", "监控设置", "日志颜色", "重命名目录", "全局路径", "托盘提示", "保存日志"})
    EXPECT_EQ(Gb18030ToUtf8(Utf8ToGb18030(literal)), literal);
}

TEST(Codec, FileNamesReadAsUtf8ElseGb18030ElseEscapedAndNeverAlike) {
  EXPECT_EQ(ReadableText("报告.txt"), "报告.txt");
  EXPECT_EQ(ReadableText("\xB1\xA8\xB8\xE6.txt"), "报告.txt") << "a name made on Windows";
  EXPECT_EQ(ReadableText("a\xFF" "b.txt"), "a\\xFFb.txt");
  EXPECT_NE(ReadableText("a\xFF.txt"), ReadableText("a\xFE.txt")) << "no two names look the same";
  EXPECT_NE(ReadableText("a\xFF.txt"), ReadableText("a?.txt"));
  EXPECT_EQ(OneLineText("a\nb\r\n\x01.txt"), "a\\nb\\r\\n\\x01.txt");
  EXPECT_EQ(OneLineText("plain 名字"), "plain 名字");
}

TEST(Codec, CharactersOutsideCodePage936SurviveAndNeverCutTheText) {
  const std::string text = "emoji 😀 and 𠀀 then tail";
  std::string stored = Utf8ToGb18030(text);
  EXPECT_EQ(Gb18030ToUtf8(stored), text);
  EXPECT_EQ(AnsiByteLength("a中😀"), 1u + 2u + 4u);
}

TEST(Codec, InvalidInputIsReplacedNotDropped) {
  EXPECT_EQ(Gb18030ToUtf8("ok\xFF" "end"), "ok\xEF\xBF\xBD" "end");
  EXPECT_EQ(Utf8ToGb18030("ok\xC3" "end"), "ok?end");
}

TEST(Codec, WideConversionsRoundTrip) {
  std::u16string wide = u"路径 😀 C:";
  EXPECT_EQ(AnsiToWide(WideToAnsi(wide)), wide);
  EXPECT_EQ(WideToAnsi(u"\xD800x"), "\xEF\xBF\xBDx") << "an unpaired surrogate";
  std::string withNul("a\0b", 3);
  EXPECT_EQ(AnsiToWide(withNul, true), u"a");
  EXPECT_EQ(AnsiToWide(withNul, false).size(), 3u);
  EXPECT_EQ(AnsiToWide(""), u"");
}

}  // namespace
}  // namespace vantrel
