#include "text/Codec.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace vantrel {
namespace {

// iconv descriptors are costly to open and not safe to share between
// threads, so each thread keeps its own pair.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // False when the input holds anything that is not valid in the source encoding.
  bool ConvertStrict(std::string_view in, std::string& out) {
    out.assign(in.size() * 3 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1) ||
        iconv(cd_, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1))
      return false;
    out.resize(out.size() - dstLeft);
    return true;
  }

  std::string Convert(std::string_view in, std::string_view replacement) {
    std::string out;
    out.resize(in.size() * 2 + 16);
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    std::size_t used = 0;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    while (srcLeft > 0) {
      if (out.size() - used < 16) out.resize(out.size() * 2);
      char* dst = out.data() + used;
      std::size_t dstLeft = out.size() - used;
      std::size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      used = out.size() - dstLeft;
      if (rc != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) {
        out.resize(out.size() * 2);
      } else {
        // EILSEQ or a truncated sequence at the end: replace one byte and go on.
        if (out.size() - used < replacement.size()) out.resize(out.size() * 2 + replacement.size());
        out.replace(used, replacement.size(), replacement);
        used += replacement.size();
        ++src;
        --srcLeft;
      }
    }
    out.resize(used);
    return out;
  }

 private:
  iconv_t cd_;
};

bool IsAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one UTF-8 sequence at text[i]; advances i. Invalid input yields
// U+FFFD and consumes one byte.
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char c = byte(i);
  int extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : -1;
  if (extra == 0) return byte(i++);
  if (extra < 0 || i + extra >= text.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t cp = c & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    unsigned char cc = byte(i + k);
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += extra + 1;
  return cp;
}

}  // namespace

std::string Utf8ToGb18030(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  thread_local Converter conv("GB18030", "UTF-8");
  return conv.Convert(utf8, "?");
}

std::string Gb18030ToUtf8(std::string_view gb) {
  if (IsAscii(gb)) return std::string(gb);
  thread_local Converter conv("UTF-8", "GB18030");
  return conv.Convert(gb, "\xEF\xBF\xBD");
}

bool IsValidUtf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    std::size_t at = i;
    // Only a real U+FFFD consumes its three bytes; an invalid byte consumes one.
    if (NextCodePoint(bytes, i) == 0xFFFD && bytes.substr(at, 3) != "\xEF\xBF\xBD") return false;
  }
  return true;
}

std::string ReadableText(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  thread_local Converter conv("UTF-8", "GB18030");
  std::string decoded;
  if (conv.ConvertStrict(bytes, decoded)) return decoded;
  std::string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t at = i;
    if (NextCodePoint(bytes, i) == 0xFFFD && bytes.substr(at, 3) != "\xEF\xBF\xBD") {
      static constexpr char kHex[] = "0123456789ABCDEF";
      auto b = static_cast<unsigned char>(bytes[at]);
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
      i = at + 1;
    } else {
      out.append(bytes, at, i - at);
    }
  }
  return out;
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
