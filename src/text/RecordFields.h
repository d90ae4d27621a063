#pragma once
// The program's own record files (the action journal, the record of what
// the rules' folders held): one record a line, fields between tabs, and a
// name's backslashes, tabs and line ends escaped so that any name fits.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

std::string EscapeField(std::string_view text);
std::string UnescapeField(std::string_view text);
// Every field, an empty last one included.
std::vector<std::string_view> SplitFields(std::string_view line);
// A whole decimal number, or nothing (an empty or damaged field).
std::optional<std::int64_t> FieldNumber(std::string_view text);

}  // namespace vantrel
