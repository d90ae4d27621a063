// TEMPORARY: see iconv.h beside this file.
#include "iconv.h"

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>

struct VantrelTemporaryIconv {
  bool toGb;  // UTF-8 to GB18030, else back
};

namespace {

constexpr UINT kCodePage936 = 936;

// One character of the input as UTF-16: its length in bytes, 0 when the
// input ends inside it, -1 when it is invalid.
int NextUtf8(const unsigned char* s, std::size_t left, std::wstring& wide) {
  unsigned char c = s[0];
  int extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : -1;
  if (extra < 0) return -1;
  if (left < static_cast<std::size_t>(extra) + 1) return 0;
  char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    if ((s[k] & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (s[k] & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  if (cp >= 0x10000) {
    wide = {static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10)), static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF))};
  } else {
    wide = {static_cast<wchar_t>(cp)};
  }
  return extra + 1;
}

// One GB18030 character as UTF-16, with the same lengths as NextUtf8.
int NextGb(const unsigned char* s, std::size_t left, std::wstring& wide) {
  if (s[0] < 0x80) {
    wide = {static_cast<wchar_t>(s[0])};
    return 1;
  }
  if (s[0] == 0x80 || s[0] == 0xFF) return -1;
  if (left < 2) return 0;
  if (s[1] >= 0x30 && s[1] <= 0x39) return -1;  // a four-byte form: not in code page 936
  wchar_t out[2];
  int n = ::MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(s), 2, out, 2);
  if (n != 1) return -1;
  wide = {out[0]};
  return 2;
}

std::string Encode(const std::wstring& wide, bool toGb) {
  char out[8];
  BOOL defaulted = FALSE;
  int n = ::WideCharToMultiByte(toGb ? kCodePage936 : CP_UTF8, toGb ? WC_NO_BEST_FIT_CHARS : 0, wide.data(),
                                static_cast<int>(wide.size()), out, sizeof out, nullptr, toGb ? &defaulted : nullptr);
  if (n <= 0 || defaulted) return {};
  return std::string(out, static_cast<std::size_t>(n));
}

}  // namespace

iconv_t iconv_open(const char* to, const char* from) {
  const bool toGb = std::strcmp(to, "GB18030") == 0 && std::strcmp(from, "UTF-8") == 0;
  const bool fromGb = std::strcmp(to, "UTF-8") == 0 && std::strcmp(from, "GB18030") == 0;
  if (!toGb && !fromGb) {
    errno = EINVAL;
    return reinterpret_cast<iconv_t>(-1);
  }
  return new VantrelTemporaryIconv{toGb};
}

std::size_t iconv(iconv_t cd, char** in, std::size_t* inLeft, char** out, std::size_t* outLeft) {
  if (!in || !*in) return 0;  // a reset or the end: there is no state
  while (*inLeft > 0) {
    std::wstring wide;
    const auto* s = reinterpret_cast<const unsigned char*>(*in);
    int used = cd->toGb ? NextUtf8(s, *inLeft, wide) : NextGb(s, *inLeft, wide);
    if (used <= 0) {
      errno = used == 0 ? EINVAL : EILSEQ;
      return static_cast<std::size_t>(-1);
    }
    std::string bytes = Encode(wide, cd->toGb);
    if (bytes.empty()) {
      errno = EILSEQ;
      return static_cast<std::size_t>(-1);
    }
    if (bytes.size() > *outLeft) {
      errno = E2BIG;
      return static_cast<std::size_t>(-1);
    }
    std::memcpy(*out, bytes.data(), bytes.size());
    *out += bytes.size();
    *outLeft -= bytes.size();
    *in += used;
    *inLeft -= static_cast<std::size_t>(used);
  }
  return 0;
}

int iconv_close(iconv_t cd) {
  delete cd;
  return 0;
}
