#include "text/RecordFields.h"

namespace vantrel {

std::string EscapeField(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::string UnescapeField(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return out;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t at = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', at);
    fields.push_back(line.substr(at, tab == std::string_view::npos ? std::string_view::npos : tab - at));
    if (tab == std::string_view::npos) return fields;
    at = tab + 1;
  }
}

std::optional<std::int64_t> FieldNumber(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  if (text.size() == std::size_t{negative} || text.size() > 21) return std::nullopt;
  // Counted without sign, so that an identity above the signed range comes
  // back as the same 64 bits.
  std::uint64_t value = 0;
  for (std::size_t i = negative; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
  }
  return static_cast<std::int64_t>(negative ? 0 - value : value);
}

}  // namespace vantrel
