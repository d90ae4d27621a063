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

// The bytes glibc wrote on Linux, where code page 936 on Windows reads them
// otherwise or has no form at all; both systems must keep writing them.
TEST(Codec, FormsBeyondCodePage936AreTheOnesLinuxStored) {
  const std::pair<const char*, const char*> kForms[] = {
      {"\uFE10", "\xA6\xD9"},          // code page 936: U+E78D
      {"\u20AC", "\xA2\xE3"},          // code page 936: 0x80
      {"\U00020087", "\xFE\x51"},      // a two-byte form beyond the BMP
      {"\u1E3F", "\xA8\xBC"},
      {"\u0080", "\x81\x30\x81\x30"},  // first four-byte form
      {"\uE7C7", "\x81\x35\xF4\x37"},  // the one range out of code point order
      {"\uFFFF", "\x84\x31\xA4\x39"},
      {"\U00010000", "\x90\x30\x81\x30"},
      {"\U0010FFFF", "\xE3\x32\x9A\x35"},
  };
  for (auto [utf8, gb] : kForms) {
    EXPECT_EQ(Utf8ToGb18030(utf8), gb) << utf8;
    EXPECT_EQ(Gb18030ToUtf8(gb), utf8) << utf8;
  }
  EXPECT_EQ(Gb18030ToUtf8("\x95\x32\x90\x31"), "\U00020087") << "its four-byte form still reads";
  EXPECT_EQ(Gb18030ToUtf8("\x80"), "\uFFFD") << "0x80 is the euro sign only in code page 936";
  EXPECT_EQ(Utf8ToGb18030("a\uE78D\uE864b"), "a??b") << "one '?' per character that has no form";
  EXPECT_EQ(AnsiByteLength("\uE78D"), 1u);
}

// Decoding resumes at the byte after an invalid lead, so a space or digit
// that follows it is kept (code page 936 on Windows swallows it).
TEST(Codec, AnInvalidSequenceCostsItsLeadByteOnly) {
  const std::string kBad = "\uFFFD";
  EXPECT_EQ(Gb18030ToUtf8("\x81 "), kBad + " ");
  EXPECT_EQ(Gb18030ToUtf8("\xA1\x7F"), kBad + "\x7F");
  EXPECT_EQ(Gb18030ToUtf8("\xFF\xD5\xE6"), kBad + "真");
  EXPECT_EQ(Gb18030ToUtf8("x\x81\x30\x81"), "x" + kBad + "0" + kBad) << "cut at the end";
  EXPECT_EQ(Gb18030ToUtf8("\x84\x31\xA5\x30"), kBad + "1" + kBad + "0") << "past the BMP's four-byte forms";
  EXPECT_EQ(Gb18030ToUtf8("\x82\x35\x90\x37"), kBad + "5" + kBad + "7") << "a slot whose character has two bytes";
  EXPECT_EQ(Gb18030ToUtf8("\xE3\x32\x9A\x36"), kBad + "2" + kBad + "6") << "past U+10FFFF";
  EXPECT_EQ(ReadableText("\x81 a"), "\\x81 a") << "not GB18030 either, so escaped";
  EXPECT_EQ(ReadableText("\x95\x32\x90\x31"), "\U00020087");

  EXPECT_EQ(Utf8ToGb18030("\xE4\xB8x"), "??x") << "a cut UTF-8 sequence";
  EXPECT_EQ(Utf8ToGb18030("\xED\xA0\x80"), "???") << "a surrogate";
  EXPECT_EQ(Utf8ToGb18030("\xC0\xAF\xF4\x90\x80\x80"), "??????") << "overlong and past U+10FFFF";
  EXPECT_EQ(Utf8ToGb18030("\uFFFD"), "\x84\x31\xA4\x37") << "a real U+FFFD is text";
  EXPECT_TRUE(IsValidUtf8("\uFFFD"));
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));
  EXPECT_EQ(AnsiToWide("a\xFF" "b"), u"a\uFFFDb");
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
