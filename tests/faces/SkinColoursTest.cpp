// The skin's palette as a face without style sheets reads it.
#include "faces/shared/SkinColours.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(SkinColours, OnlyTheColoursSectionsWellFormedColoursCount) {
  using Colours = std::map<std::string, std::uint32_t>;
  const struct {
    const char* skin;
    Colours expected;
  } cases[] = {
      {".SHE 1\n[colours]\nwindow = #eef1f5\ntext=#1E2A38\n", {{"window", 0xeef1f5}, {"text", 0x1e2a38}}},
      {".SHE 1\r\n# a comment\r\n[colours]\r\nbase = #ffffff\r\n[sheet]\r\nborder = #000000\r\n", {{"base", 0xffffff}}},
      {".SHE 1\n[colours]\nshort = #fff\nword = #gggggg\n= #123456\nnohash = 123456\ngood = #010203", {{"good", 0x010203}}},
      {"[colours]\nwindow = #eef1f5\n", {}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(SkinColours(c.skin), c.expected) << c.skin;
}

}  // namespace
}  // namespace vantrel
