#pragma once
// The text rules every subsystem shares: containment, splitting, replacement
// and integer conversion behave the same wherever a setting, a rule or a path
// is compared, so they live in one place.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// 1-based position of the first occurrence of needle at or after the 1-based
// position start, or 0. A match never starts inside a multi-byte character.
// An empty needle is found at start in any non-empty text and never in an
// empty one.
std::size_t TextFind(std::string_view text, std::string_view needle, std::size_t start = 1);

inline bool TextContains(std::string_view text, std::string_view needle) {
  return TextFind(text, needle) != 0;
}

// Keeps empty pieces between separators, drops an empty last piece.
std::vector<std::string> SplitText(std::string_view text, std::string_view separator);

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
// ASCII letters compare without case; other characters must match exactly.
std::string ReplaceAllIgnoreCase(std::string_view text, std::string_view from, std::string_view to);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// The value of the leading decimal digits; text without them gives 0. Values
// beyond the range saturate instead of wrapping.
std::int64_t LeadingInteger(std::string_view text);

// Strips blanks (code 32 or below) from the ends.
std::string_view TrimBlanks(std::string_view text);
std::string_view TrimLeadingBlanks(std::string_view text);

}  // namespace vantrel
