#pragma once
// The palette of the program's skin file: after the four bytes ".SHE", a
// [colours] section of "name = #rrggbb" lines (palette roles such as window,
// base, text, highlight). A face that cannot wear the skin's style sheet
// wears its palette.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace vantrel {

// 0xRRGGBB by name; empty when the bytes are no skin. Lines that are no
// colour are passed over.
std::map<std::string, std::uint32_t> SkinColours(std::string_view bytes);

}  // namespace vantrel
