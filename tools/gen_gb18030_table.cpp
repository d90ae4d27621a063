// Writes src/text/Gb18030Table.inc from glibc's iconv, once; the program
// itself never calls iconv, so that Linux and Windows store the same bytes.
// Usage: gen_gb18030_table > src/text/Gb18030Table.inc
//
// It refuses to write a table when iconv breaks an assumption the codec is
// built on, rather than emit one the codec would read wrongly.
#include <gnu/libc-version.h>
#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kLeads = 0xFE - 0x81 + 1;
constexpr int kTrails = 0xFE - 0x40;  // 0x40..0xFE without 0x7F
constexpr int kPageBits = 6;
constexpr std::uint32_t kBmpLinearEnd = 39420;      // 0x8431A439 is the last BMP slot
constexpr std::uint32_t kSupplementaryBase = 189000;  // linear index of 0x90308130

[[noreturn]] void Fail(const char* what, unsigned value) {
  std::fprintf(stderr, "gen_gb18030_table: %s (0x%X)\n", what, value);
  std::exit(1);
}

struct Iconv {
  iconv_t enc = iconv_open("GB18030", "UTF-32LE");
  iconv_t dec = iconv_open("UTF-32LE", "GB18030");

  // Byte count of the GB18030 form of cp, 0 when iconv has none.
  int Encode(std::uint32_t cp, unsigned char* out) {
    unsigned char in[4] = {static_cast<unsigned char>(cp), static_cast<unsigned char>(cp >> 8),
                           static_cast<unsigned char>(cp >> 16), 0};
    char* src = reinterpret_cast<char*>(in);
    std::size_t srcLeft = 4;
    char* dst = reinterpret_cast<char*>(out);
    std::size_t dstLeft = 8;
    iconv(enc, nullptr, nullptr, nullptr, nullptr);
    if (iconv(enc, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) return 0;
    return static_cast<int>(8 - dstLeft);
  }

  // The one code point the whole sequence decodes to, or -1.
  long Decode(const unsigned char* bytes, std::size_t size) {
    unsigned char out[16];
    char* src = reinterpret_cast<char*>(const_cast<unsigned char*>(bytes));
    std::size_t srcLeft = size;
    char* dst = reinterpret_cast<char*>(out);
    std::size_t dstLeft = sizeof out;
    iconv(dec, nullptr, nullptr, nullptr, nullptr);
    if (iconv(dec, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1) || srcLeft != 0 ||
        sizeof out - dstLeft != 4)
      return -1;
    return out[0] | out[1] << 8 | out[2] << 16 | static_cast<long>(out[3]) << 24;
  }
};

std::uint32_t Linear(const unsigned char* b) {
  return (((b[0] - 0x81u) * 10 + (b[1] - 0x30u)) * 126 + (b[2] - 0x81u)) * 10 + (b[3] - 0x30u);
}

int TrailIndex(int trail) { return trail - 0x40 - (trail > 0x7F ? 1 : 0); }

struct Range {
  std::uint32_t first, linear, count;
};

void PrintU16(const char* name, const std::vector<std::uint16_t>& values) {
  std::printf("constexpr std::uint16_t %s[%zu] = {\n", name, values.size());
  for (std::size_t i = 0; i < values.size(); ++i)
    std::printf("%s0x%X,%s", i % 16 == 0 ? "    " : "", values[i], i % 16 == 15 || i + 1 == values.size() ? "\n" : " ");
  std::printf("};\n\n");
}

}  // namespace

int main() {
  Iconv conv;
  if (conv.enc == reinterpret_cast<iconv_t>(-1) || conv.dec == reinterpret_cast<iconv_t>(-1)) Fail("no GB18030 in iconv", 0);

  // Entries of the two-byte table that do not fit 16 bits point into a short
  // list through a surrogate value, which no sequence can decode to.
  std::vector<std::uint16_t> twoByte(kLeads * kTrails, 0);
  std::vector<std::uint32_t> wideTwoByte;
  std::vector<std::uint16_t> wideTwoByteCodes;
  std::vector<std::uint16_t> encodeBmp(0x10000, 0);
  std::vector<Range> ranges;
  std::vector<std::uint32_t> unencodable;

  for (std::uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    unsigned char b[8];
    int n = conv.Encode(cp, b);
    if (n != 0 && conv.Decode(b, n) != static_cast<long>(cp)) Fail("encoding does not decode back", cp);
    if (n == 0) {
      if (cp < 0x80) Fail("ASCII not encodable", cp);
      unencodable.push_back(cp);
    } else if (n == 1) {
      if (cp >= 0x80 || b[0] != cp) Fail("one-byte form outside ASCII", cp);
    } else if (n == 2) {
      if (b[0] < 0x81 || b[0] > 0xFE || b[1] < 0x40 || b[1] > 0xFE || b[1] == 0x7F) Fail("odd two-byte form", cp);
      std::uint16_t code = static_cast<std::uint16_t>(b[0] << 8 | b[1]);
      std::uint16_t& entry = twoByte[(b[0] - 0x81) * kTrails + TrailIndex(b[1])];
      if (cp <= 0xFFFF) {
        entry = static_cast<std::uint16_t>(cp);
        encodeBmp[cp] = code;
      } else {
        entry = static_cast<std::uint16_t>(0xD800 + wideTwoByte.size());
        wideTwoByte.push_back(cp);
        wideTwoByteCodes.push_back(code);
      }
    } else if (n == 4) {
      std::uint32_t linear = Linear(b);
      if (cp <= 0xFFFF) {
        if (linear >= kBmpLinearEnd) Fail("BMP four-byte form past the BMP slots", cp);
        if (!ranges.empty() && ranges.back().first + ranges.back().count == cp &&
            ranges.back().linear + ranges.back().count == linear)
          ++ranges.back().count;
        else
          ranges.push_back({cp, linear, 1});
      } else if (linear != kSupplementaryBase + (cp - 0x10000)) {
        Fail("supplementary form off the arithmetic", cp);
      }
    } else {
      Fail("unexpected length", cp);
    }
  }

  for (int lead = 0x81; lead <= 0xFE; ++lead)
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      unsigned char b[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
      long cp = conv.Decode(b, 2);
      std::uint16_t entry = twoByte[(lead - 0x81) * kTrails + TrailIndex(trail)];
      long expected = entry == 0 ? -1 : entry >= 0xD800 && entry <= 0xDFFF ? static_cast<long>(wideTwoByte[entry - 0xD800]) : entry;
      if (cp != expected) Fail("two-byte sequence decodes to what no code point encodes to", lead << 8 | trail);
    }

  // A BMP slot that decodes although no code point encodes to it would be lost.
  for (std::uint32_t linear = 0; linear < kBmpLinearEnd; ++linear) {
    unsigned char b[4] = {static_cast<unsigned char>(0x81 + linear / 12600), static_cast<unsigned char>(0x30 + linear / 1260 % 10),
                          static_cast<unsigned char>(0x81 + linear / 10 % 126), static_cast<unsigned char>(0x30 + linear % 10)};
    long expected = -1;
    for (const Range& r : ranges)
      if (linear >= r.linear && linear < r.linear + r.count) expected = r.first + (linear - r.linear);
    if (conv.Decode(b, 4) != expected) Fail("four-byte BMP slot decodes off the ranges", linear);
  }

  std::vector<std::uint16_t> pageIndex(0x10000 >> kPageBits, 0);
  std::vector<std::uint16_t> pages(std::size_t{1} << kPageBits, 0);  // page 0 maps nothing
  for (std::size_t p = 0; p < pageIndex.size(); ++p) {
    auto begin = encodeBmp.begin() + static_cast<long>(p << kPageBits);
    auto end = begin + (1 << kPageBits);
    if (std::all_of(begin, end, [](std::uint16_t v) { return v == 0; })) continue;
    pageIndex[p] = static_cast<std::uint16_t>(pages.size() >> kPageBits);
    pages.insert(pages.end(), begin, end);
  }

  std::vector<std::uint8_t> byLinear(ranges.size());
  for (std::size_t i = 0; i < ranges.size(); ++i) byLinear[i] = static_cast<std::uint8_t>(i);
  if (ranges.size() > 256) Fail("too many ranges for 8-bit indices", static_cast<unsigned>(ranges.size()));
  std::sort(byLinear.begin(), byLinear.end(), [&](auto a, auto b) { return ranges[a].linear < ranges[b].linear; });

  std::printf(
      "// Generated by tools/gen_gb18030_table.cpp from glibc %s iconv's GB18030 with\n"
      "//   cmake --build build --target gen_gb18030_table -j1 &&\n"
      "//   build/tools/gen_gb18030_table > src/text/Gb18030Table.inc\n"
      "// Do not edit; tests/text/Gb18030IconvTest.cpp checks the codec against iconv.\n"
      "// Code points iconv has no form for, which the codec writes as '?':",
      gnu_get_libc_version());
  for (std::size_t i = 0; i < unencodable.size(); ++i) std::printf("%s U+%04X", i % 10 == 0 ? "\n//" : "", unencodable[i]);
  std::printf("\n\n");
  std::printf("constexpr int kTrailsPerLead = %d;\nconstexpr int kEncodePageBits = %d;\n\n", kTrails, kPageBits);
  std::printf("// Lead 0x81..0xFE by trail 0x40..0xFE without 0x7F; 0 where nothing is mapped.\n");
  PrintU16("kTwoByteToUnicode", twoByte);
  std::printf("// Where kTwoByteToUnicode holds 0xD800 + i: the code point and its two bytes.\n");
  std::printf("constexpr std::uint32_t kWideTwoByte[%zu] = {", wideTwoByte.size());
  for (std::uint32_t cp : wideTwoByte) std::printf("0x%X, ", cp);
  std::printf("};\nconstexpr std::uint16_t kWideTwoByteCode[%zu] = {", wideTwoByteCodes.size());
  for (std::uint16_t code : wideTwoByteCodes) std::printf("0x%X, ", code);
  std::printf("};\n\n");
  std::printf("// Two-byte form of a BMP code point: kEncodePages[kEncodePageIndex[cp >> bits] << bits | low bits]; 0 where it has none.\n");
  PrintU16("kEncodePageIndex", pageIndex);
  PrintU16("kEncodePages", pages);
  std::printf("// BMP code points with a four-byte form: first code point, first linear index, count; by code point.\n");
  std::printf("struct FourByteRange {\n  std::uint16_t first, linear, count;\n};\n");
  std::printf("constexpr FourByteRange kFourByteRanges[%zu] = {\n", ranges.size());
  for (std::size_t i = 0; i < ranges.size(); ++i)
    std::printf("%s{0x%X, %u, %u},%s", i % 6 == 0 ? "    " : "", ranges[i].first, ranges[i].linear, ranges[i].count,
                i % 6 == 5 || i + 1 == ranges.size() ? "\n" : " ");
  std::printf("};\n\n// kFourByteRanges' indices by linear index.\n");
  std::printf("constexpr std::uint8_t kRangesByLinear[%zu] = {\n", byLinear.size());
  for (std::size_t i = 0; i < byLinear.size(); ++i)
    std::printf("%s%u,%s", i % 16 == 0 ? "    " : "", byLinear[i], i % 16 == 15 || i + 1 == byLinear.size() ? "\n" : " ");
  std::printf("};\n");
  return 0;
}
