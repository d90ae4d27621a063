// The codec against glibc's iconv, which wrote the files of earlier versions
// and which the table came from: every code point, every well-formed
// sequence, and how invalid input is replaced. Linux only.
#include "text/Codec.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace vantrel {
namespace {

std::string Utf8(char32_t cp) {
  if (cp < 0x10000) return WideToAnsi(std::u16string(1, static_cast<char16_t>(cp)));
  return WideToAnsi(std::u16string{static_cast<char16_t>(0xD7C0 + (cp >> 10)), static_cast<char16_t>(0xDC00 | (cp & 0x3FF))});
}

// What the codec did when it was iconv: an input byte that starts no valid
// sequence is replaced and conversion resumes at the next byte.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (Opened()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool Opened() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // False when iconv rejects any part of the input.
  bool Strict(std::string_view in, std::string& out) {
    char buf[64];
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = buf;
    std::size_t dstLeft = sizeof buf;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) return false;
    out.assign(buf, sizeof buf - dstLeft);
    return true;
  }

  std::string Replacing(std::string_view in, std::string_view replacement) {
    std::string out(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    while (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
      dst = std::copy(replacement.begin(), replacement.end(), dst);
      dstLeft -= replacement.size();
      ++src;
      --srcLeft;
    }
    out.resize(out.size() - dstLeft);
    return out;
  }

 private:
  iconv_t cd_;
};

std::string Hex(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) out += "0123456789ABCDEF"[c >> 4], out += "0123456789ABCDEF"[c & 15];
  return out;
}

TEST(Gb18030AgainstIconv, EveryScalarValueEncodesAsIconvDoesAndDecodesBack) {
  Iconv encoder("GB18030", "UTF-8");
  ASSERT_TRUE(encoder.Opened());
  ASSERT_EQ(Utf8(0x10FFFF), "\xF4\x8F\xBF\xBF");
  std::size_t checked = 0, unencodable = 0;
  std::vector<std::string> differences;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    ++checked;
    const std::string text = Utf8(cp);
    std::string expected;
    if (!encoder.Strict(text, expected)) {
      expected = "?";  // one character iconv has no form for is one '?'
      ++unencodable;
    }
    const std::string ours = Utf8ToGb18030(text);
    if (ours != expected || (expected != "?" && Gb18030ToUtf8(ours) != text))
      if (differences.size() < 10) differences.push_back(Hex(text) + ": " + Hex(ours) + " vs " + Hex(expected));
  }
  EXPECT_GT(checked - unencodable, 0x10F000u) << "iconv has forms for all but a few";
  EXPECT_TRUE(differences.empty()) << ::testing::PrintToString(differences);
}

TEST(Gb18030AgainstIconv, EveryTwoAndFourByteSequenceDecodesAsIconvDoes) {
  Iconv decoder("UTF-8", "GB18030");
  ASSERT_TRUE(decoder.Opened());
  std::size_t valid = 0;
  std::vector<std::string> differences;
  auto check = [&](std::string_view seq) {
    std::string single;
    if (decoder.Strict(seq, single)) ++valid;
    const std::string expected = decoder.Replacing(seq, "\xEF\xBF\xBD");
    const std::string ours = Gb18030ToUtf8(seq);
    if (ours != expected && differences.size() < 10) differences.push_back(Hex(seq) + ": " + Hex(ours) + " vs " + Hex(expected));
  };
  for (int lead = 0x81; lead <= 0xFE; ++lead)
    for (int trail = 0x40; trail <= 0xFE; ++trail)
      if (trail != 0x7F) check(std::string{static_cast<char>(lead), static_cast<char>(trail)});
  EXPECT_EQ(valid, 23940u) << "every two-byte sequence has a character";
  for (int b1 = 0x81; b1 <= 0xFE; ++b1)
    for (int b2 = 0x30; b2 <= 0x39; ++b2)
      for (int b3 = 0x81; b3 <= 0xFE; ++b3)
        for (int b4 = 0x30; b4 <= 0x39; ++b4)
          check(std::string{static_cast<char>(b1), static_cast<char>(b2), static_cast<char>(b3), static_cast<char>(b4)});
  EXPECT_GT(valid, 23940u + 1087000u) << "four-byte forms cover the BMP's rest and all of U+10000..U+10FFFF";
  EXPECT_TRUE(differences.empty()) << ::testing::PrintToString(differences);
}

// Mixed text and damage: bad leads, cut sequences, stray continuation bytes,
// surrogates and overlong UTF-8, each replaced exactly as iconv's codec did.
TEST(Gb18030AgainstIconv, DamagedTextIsReplacedAsBefore) {
  Iconv encoder("GB18030", "UTF-8"), decoder("UTF-8", "GB18030");
  ASSERT_TRUE(encoder.Opened() && decoder.Opened());
  std::mt19937 random(18030);
  auto pick = [&](unsigned lo, unsigned hi) { return std::uniform_int_distribution<unsigned>(lo, hi)(random); };
  static constexpr char32_t kSamples[] = {'a', 0xE9, 0x2014, 0x4E2D, 0x9FA5, 0xE000, 0xE7C7, 0xFE10, 0xFFFD, 0x20087, 0x1F600, 0x10FFFF};
  for (int round = 0; round < 4000; ++round) {
    std::string utf8, gb;
    for (int piece = pick(1, 12); piece > 0; --piece) {
      switch (pick(0, 5)) {
        case 0: utf8 += Utf8(kSamples[pick(0, std::size(kSamples) - 1)]); break;
        case 1: utf8 += Utf8(pick(0, 1) ? pick(0x80, 0xD7FF) : pick(0x10000, 0x10FFFF)); break;
        case 2: utf8 += Utf8(kSamples[pick(0, 9)]).substr(0, pick(1, 2)); break;  // cut
        default: utf8 += static_cast<char>(pick(0, 255)); break;
      }
      switch (pick(0, 4)) {
        case 0: gb += std::string{static_cast<char>(pick(0x81, 0xFE)), static_cast<char>(pick(0x40, 0xFE))}; break;
        case 1: gb += std::string{static_cast<char>(pick(0x81, 0xFE)), static_cast<char>(pick(0x30, 0x39)),
                                  static_cast<char>(pick(0x81, 0xFE)), static_cast<char>(pick(0x30, 0x39))}; break;
        case 2: gb += std::string{static_cast<char>(pick(0x81, 0x84)), static_cast<char>(pick(0x30, 0x39))}; break;
        default: gb += static_cast<char>(pick(0, 255)); break;
      }
    }
    ASSERT_EQ(Hex(Utf8ToGb18030(utf8)), Hex(encoder.Replacing(utf8, "?"))) << Hex(utf8);
    ASSERT_EQ(Hex(Gb18030ToUtf8(gb)), Hex(decoder.Replacing(gb, "\xEF\xBF\xBD"))) << Hex(gb);
  }
}

}  // namespace
}  // namespace vantrel
