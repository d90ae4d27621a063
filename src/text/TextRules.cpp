#include "text/TextRules.h"

#include <limits>

namespace vantrel {
namespace {

bool IsContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

template <typename Equal>
std::size_t FindFrom(std::string_view text, std::string_view needle, std::size_t from, Equal eq) {
  if (needle.size() > text.size()) return std::string_view::npos;
  for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
    if (IsContinuationByte(static_cast<unsigned char>(text[i]))) continue;
    std::size_t k = 0;
    while (k < needle.size() && eq(text[i + k], needle[k])) ++k;
    if (k == needle.size()) return i;
  }
  return std::string_view::npos;
}

template <typename Equal>
std::string Replace(std::string_view text, std::string_view from, std::string_view to, Equal eq) {
  if (from.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (;;) {
    std::size_t hit = FindFrom(text, from, pos, eq);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace

std::size_t TextFind(std::string_view text, std::string_view needle, std::size_t start) {
  if (text.empty() || start == 0 || start > text.size()) return 0;
  if (needle.empty()) return start;
  std::size_t hit = FindFrom(text, needle, start - 1, [](char a, char b) { return a == b; });
  return hit == std::string_view::npos ? 0 : hit + 1;
}

std::vector<std::string> SplitText(std::string_view text, std::string_view separator) {
  std::vector<std::string> pieces;
  if (separator.empty()) {
    if (!text.empty()) pieces.emplace_back(text);
    return pieces;
  }
  std::size_t pos = 0;
  for (;;) {
    std::size_t hit = text.find(separator, pos);
    if (hit == std::string_view::npos) break;
    pieces.emplace_back(text.substr(pos, hit - pos));
    pos = hit + separator.size();
  }
  if (pos < text.size()) pieces.emplace_back(text.substr(pos));
  return pieces;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  return Replace(text, from, to, [](char a, char b) { return a == b; });
}

std::string ReplaceAllIgnoreCase(std::string_view text, std::string_view from, std::string_view to) {
  return Replace(text, from, to, [](char a, char b) { return FoldAscii(a) == FoldAscii(b); });
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

std::int64_t LeadingInteger(std::string_view text) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    int digit = c - '0';
    if (value > (kMax - digit) / 10) return kMax;
    value = value * 10 + digit;
  }
  return value;
}

std::string_view TrimLeadingBlanks(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= 32) ++i;
  return text.substr(i);
}

std::string_view TrimBlanks(std::string_view text) {
  text = TrimLeadingBlanks(text);
  std::size_t n = text.size();
  while (n > 0 && static_cast<unsigned char>(text[n - 1]) <= 32) --n;
  return text.substr(0, n);
}

}  // namespace vantrel
