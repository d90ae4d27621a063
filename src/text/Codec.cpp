#include "text/Codec.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace vantrel {
namespace {

// Our own tables rather than the system's converters: Windows has no GB18030
// converter that matches glibc's (code page 936 maps 106 sequences to the
// Private Use Area, and Wine has no 54936 at all), and the stored files must
// have the same bytes whichever system wrote them.
namespace gb {
#include "text/Gb18030Table.inc"
}  // namespace gb

constexpr char32_t kNotText = 0xFFFFFFFF;
// Linear index of 0x90308130, the four-byte form of U+10000.
constexpr std::uint32_t kSupplementaryLinear = 189000;

// Decodes one UTF-8 sequence at p; advances past it, or by one byte when it
// is not well-formed (kNotText), so that the next byte is read for itself.
char32_t DecodeUtf8(const unsigned char*& p, const unsigned char* end) {
  const unsigned c = p[0];
  if (c < 0x80) {
    ++p;
    return c;
  }
  const auto avail = end - p;
  auto cont = [&](int k) { return (p[k] & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) {
    if (avail >= 2 && cont(1)) {
      char32_t cp = (c & 0x1F) << 6 | (p[1] & 0x3F);
      p += 2;
      return cp;
    }
  } else if (c >= 0xE0 && c <= 0xEF) {
    if (avail >= 3 && cont(1) && cont(2)) {
      char32_t cp = (c & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F);
      if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) {
        p += 3;
        return cp;
      }
    }
  } else if (c >= 0xF0 && c <= 0xF4) {
    if (avail >= 4 && cont(1) && cont(2) && cont(3)) {
      char32_t cp = (c & 0x07) << 18 | (p[1] & 0x3F) << 12 | (p[2] & 0x3F) << 6 | (p[3] & 0x3F);
      if (cp >= 0x10000 && cp <= 0x10FFFF) {
        p += 4;
        return cp;
      }
    }
  }
  ++p;
  return kNotText;
}

char* PutUtf8(char* out, char32_t cp) {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

char* PutTwoBytes(char* out, std::uint16_t code) {
  *out++ = static_cast<char>(code >> 8);
  *out++ = static_cast<char>(code & 0xFF);
  return out;
}

char* PutFourBytes(char* out, std::uint32_t linear) {
  out[3] = static_cast<char>(0x30 + linear % 10);
  linear /= 10;
  out[2] = static_cast<char>(0x81 + linear % 126);
  linear /= 126;
  out[1] = static_cast<char>(0x30 + linear % 10);
  out[0] = static_cast<char>(0x81 + linear / 10);
  return out + 4;
}

// Writes the GB18030 form of cp (never more than two bytes per UTF-8 byte it
// came from); '?' for what is no text or has no form.
char* PutGb18030(char* out, char32_t cp) {
  if (cp <= 0xFFFF) {
    std::uint16_t code = gb::kEncodePages[gb::kEncodePageIndex[cp >> gb::kEncodePageBits] << gb::kEncodePageBits |
                                          (cp & ((1u << gb::kEncodePageBits) - 1))];
    if (code != 0) return PutTwoBytes(out, code);
    auto next = std::upper_bound(std::begin(gb::kFourByteRanges), std::end(gb::kFourByteRanges), cp,
                                 [](char32_t c, const gb::FourByteRange& r) { return c < r.first; });
    if (next != std::begin(gb::kFourByteRanges)) {
      const gb::FourByteRange& r = *(next - 1);
      if (cp - r.first < r.count) return PutFourBytes(out, r.linear + (cp - r.first));
    }
  } else if (cp <= 0x10FFFF) {
    for (std::size_t k = 0; k < std::size(gb::kWideTwoByte); ++k)
      if (gb::kWideTwoByte[k] == cp) return PutTwoBytes(out, gb::kWideTwoByteCode[k]);
    return PutFourBytes(out, kSupplementaryLinear + (cp - 0x10000));
  }
  *out++ = '?';
  return out;
}

char32_t FourByteBmp(std::uint32_t linear) {
  auto next = std::upper_bound(std::begin(gb::kRangesByLinear), std::end(gb::kRangesByLinear), linear,
                               [](std::uint32_t l, std::uint8_t i) { return l < gb::kFourByteRanges[i].linear; });
  if (next == std::begin(gb::kRangesByLinear)) return kNotText;
  const gb::FourByteRange& r = gb::kFourByteRanges[*(next - 1)];
  return linear - r.linear < r.count ? r.first + (linear - r.linear) : kNotText;
}

// Decodes one GB18030 sequence at p; advances past it, or past the lead
// byte alone when it is not valid (kNotText). Taking one byte keeps what
// follows a bad lead, e.g. the space of "\x81 ", and a corrupt four-byte
// sequence's digits, as the system converters do on Linux; code page 936
// on Windows would swallow them.
char32_t DecodeGb18030(const unsigned char*& p, const unsigned char* end) {
  const unsigned lead = p[0];
  if (lead < 0x80) {
    ++p;
    return lead;
  }
  if (lead >= 0x81 && lead <= 0xFE && end - p >= 2) {
    const unsigned second = p[1];
    if (second >= 0x40 && second <= 0xFE && second != 0x7F) {
      unsigned entry = gb::kTwoByteToUnicode[(lead - 0x81) * gb::kTrailsPerLead + second - 0x40 - (second > 0x7F)];
      if (entry >= 0xD800 && entry <= 0xDFFF) entry = gb::kWideTwoByte[entry - 0xD800];
      if (entry != 0) {
        p += 2;
        return entry;
      }
    } else if (second >= 0x30 && second <= 0x39 && end - p >= 4 && p[2] >= 0x81 && p[2] <= 0xFE && p[3] >= 0x30 &&
               p[3] <= 0x39) {
      std::uint32_t linear = (((lead - 0x81) * 10 + (second - 0x30)) * 126 + (p[2] - 0x81u)) * 10 + (p[3] - 0x30u);
      char32_t cp = linear >= kSupplementaryLinear ? (linear - kSupplementaryLinear < 0x100000 ? 0x10000 + (linear - kSupplementaryLinear) : kNotText)
                                                   : FourByteBmp(linear);
      if (cp != kNotText) {
        p += 4;
        return cp;
      }
    }
  }
  ++p;
  return kNotText;
}

// False, with out unfinished, at the first invalid sequence when strict.
bool DecodeAll(std::string_view gb, std::string& out, bool strict) {
  out.resize(gb.size() * 3);  // an invalid byte becomes the three bytes of U+FFFD
  char* o = out.data();
  auto p = reinterpret_cast<const unsigned char*>(gb.data());
  const auto end = p + gb.size();
  while (p < end) {
    if (*p < 0x80) {
      *o++ = static_cast<char>(*p++);
      continue;
    }
    char32_t cp = DecodeGb18030(p, end);
    if (cp == kNotText) {
      if (strict) return false;
      cp = 0xFFFD;
    }
    o = PutUtf8(o, cp);
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return true;
}

bool IsAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
  char buf[4];
  out.append(buf, static_cast<std::size_t>(PutUtf8(buf, cp) - buf));
}

// Decodes one UTF-8 sequence at text[i]; advances i. Invalid input yields
// kNotText and consumes one byte.
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
  auto p = reinterpret_cast<const unsigned char*>(text.data()) + i;
  char32_t cp = DecodeUtf8(p, reinterpret_cast<const unsigned char*>(text.data()) + text.size());
  i = static_cast<std::size_t>(p - reinterpret_cast<const unsigned char*>(text.data()));
  return cp;
}

}  // namespace

std::string Utf8ToGb18030(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  std::string out(utf8.size() * 2, '\0');
  char* o = out.data();
  auto p = reinterpret_cast<const unsigned char*>(utf8.data());
  const auto end = p + utf8.size();
  while (p < end) {
    if (*p < 0x80)
      *o++ = static_cast<char>(*p++);
    else
      o = PutGb18030(o, DecodeUtf8(p, end));
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return out;
}

std::string Gb18030ToUtf8(std::string_view gb) {
  if (IsAscii(gb)) return std::string(gb);
  std::string out;
  DecodeAll(gb, out, false);
  return out;
}

bool IsValidUtf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    // ASCII, most of most paths, needs no decoding.
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    if (NextCodePoint(bytes, i) == kNotText) return false;
  }
  return true;
}

std::string ReadableText(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string decoded;
  if (DecodeAll(bytes, decoded, true)) return decoded;
  std::string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t at = i;
    if (NextCodePoint(bytes, i) == kNotText) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      auto b = static_cast<unsigned char>(bytes[at]);
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out.append(bytes, at, i - at);
    }
  }
  return out;
}

void AppendOneLineText(std::string& out, std::string_view bytes) {
  const bool plain = std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
  if (plain) {
    out.append(bytes);
  } else {
    out += OneLineText(bytes);
  }
}

std::string OneLineText(std::string_view bytes) {
  std::string readable = ReadableText(bytes);
  if (std::none_of(readable.begin(), readable.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
    return readable;
  std::string out;
  for (char c : readable) {
    auto b = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (b < 0x20 || b == 0x7F) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::size_t AnsiByteLength(std::string_view utf8) {
  if (IsAscii(utf8)) return utf8.size();
  return Utf8ToGb18030(utf8).size();
}

std::string WideToAnsi(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t u = wide[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
    AppendUtf8(out, u);
  }
  return out;
}

std::u16string AnsiToWide(std::string_view text, bool terminate) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    char32_t cp = NextCodePoint(text, i);
    if (cp == kNotText) cp = 0xFFFD;
    if (cp == 0 && terminate) break;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

}  // namespace vantrel
