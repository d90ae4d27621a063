// The skin library loaded from memory, as the program carries it, and the
// ordinary look whenever anything about it is wrong.
#include "faces/qt/skin/Skin.h"

#include <QApplication>
#include <QFile>
#include <QPalette>
#include <QStyle>
#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

using namespace vantrel;

namespace {

std::vector<std::string> MapLines() {
  std::ifstream maps("/proc/self/maps");
  std::vector<std::string> lines;
  for (std::string line; std::getline(maps, line);) lines.push_back(line);
  return lines;
}

int MappingsNaming(const std::string& text) {
  int count = 0;
  for (const std::string& line : MapLines()) count += line.find(text) != std::string::npos;
  return count;
}

// The path of the mapping that holds an address ("" if none).
std::string MappingOf(const void* address) {
  const auto at = reinterpret_cast<unsigned long>(address);
  for (const std::string& line : MapLines()) {
    unsigned long from = 0, to = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx", &from, &to) != 2 || at < from || at >= to) continue;
    const std::size_t slash = line.find('/');
    return slash == std::string::npos ? std::string("[anonymous]") : line.substr(slash);
  }
  return "";
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir)) ++count;
    ::closedir(dir);
  }
  return count;
}

struct Look {
  QString styleSheet;
  QString styleName;
  QPalette palette;
  bool operator==(const Look& other) const {
    return styleSheet == other.styleSheet && styleName == other.styleName && palette == other.palette;
  }
};

Look CurrentLook() { return {qApp->styleSheet(), QApplication::style()->name(), QApplication::palette()}; }

std::vector<unsigned char> FileBytes(const char* path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray all = file.readAll();
  return {all.begin(), all.end()};
}

}  // namespace

TEST(SkinTest, EmbeddedLibraryRunsFromAnonymousMemoryAndDrawsTheSkin) {
  const int descriptors = OpenDescriptors();
  ApplySkin(EmbeddedSkinResource());

  const Look skinned = CurrentLook();
  EXPECT_TRUE(skinned.styleSheet.contains("QHeaderView::section"));
  EXPECT_FALSE(skinned.styleSheet.contains('@')) << "every colour name is filled in";
  EXPECT_EQ(skinned.palette.color(QPalette::Window).name(), "#eef1f5");
  EXPECT_EQ(skinned.palette.color(QPalette::Highlight).name(), "#2f6fb5");

  // The library is mapped, but only from the anonymous memory file: no file
  // of it exists on disk, and no descriptor is kept open for it.
  EXPECT_GT(MappingsNaming("/memfd:vantrel-skin"), 0);
  for (const std::string& line : MapLines()) EXPECT_EQ(line.find("vantrel_skin"), std::string::npos) << line;
  EXPECT_EQ(OpenDescriptors(), descriptors);

  MappedModule* second = LoadModuleFromMemory(EmbeddedSkinLibrary());
  ASSERT_NE(second, nullptr);
  void* attach = GetModuleExport(second, "SkinH_AttachRes");
  ASSERT_NE(attach, nullptr);
  EXPECT_EQ(MappingOf(attach), "/memfd:vantrel-skin (deleted)");
  EXPECT_NE(GetModuleExport(second, "SkinH_AdjustHSV"), nullptr);
  // Nothing but the two calls leaves the library.
  EXPECT_EQ(GetModuleExport(second, "_ZN12_GLOBAL__N_17CurrentEv"), nullptr);
  FreeModuleFromMemory(second);
}

TEST(SkinTest, HueAndSaturationTintEveryColourAndAreClamped) {
  ApplySkin(EmbeddedSkinResource(), 120, 0);
  const QColor turned = QApplication::palette().color(QPalette::Highlight);
  const QColor plain("#2f6fb5");
  EXPECT_EQ(turned.hsvHue(), (plain.hsvHue() + 120) % 360);
  EXPECT_EQ(turned.value(), plain.value());
  // Greys have no hue to turn and stay as they are.
  EXPECT_EQ(QApplication::palette().color(QPalette::Base).name(), "#ffffff");

  ApplySkin(EmbeddedSkinResource(), 500, -300);
  const QPalette clamped = QApplication::palette();
  ApplySkin(EmbeddedSkinResource(), 180, -100);
  EXPECT_EQ(QApplication::palette(), clamped);
  EXPECT_EQ(clamped.color(QPalette::Highlight).hsvSaturation(), 0) << "saturation -100 leaves grey";
  EXPECT_TRUE(qApp->styleSheet().contains(clamped.color(QPalette::Highlight).name(QColor::HexArgb)))
      << "the style sheet is tinted with the palette";
}

TEST(SkinTest, DamagedImagesAreRefusedAndLeaveNothingBehind) {
  const std::span<const unsigned char> good = EmbeddedSkinLibrary();
  const std::vector<unsigned char> whole(good.begin(), good.end());
  std::vector<std::vector<unsigned char>> damaged;
  damaged.push_back({});
  damaged.push_back({whole.begin(), whole.begin() + 40});
  damaged.push_back({whole.begin(), whole.begin() + whole.size() / 2});
  auto flipped = whole;
  flipped[1] ^= 0xff;  // "ELF"
  damaged.push_back(flipped);
  auto foreign = whole;
  foreign[18] ^= 0x40;  // the machine it was built for
  damaged.push_back(foreign);
  auto scribbled = whole;
  for (std::size_t i = 64; i < 64 + 56 * 2; ++i) scribbled[i] = 0xee;  // the program headers
  damaged.push_back(scribbled);

  const Look ordinary = CurrentLook();
  const int descriptors = OpenDescriptors();
  const int mappings = MappingsNaming("/memfd:vantrel-skin");
  for (std::size_t i = 0; i < damaged.size(); ++i) {
    std::string why;
    MappedModule* module = LoadModuleFromMemory(damaged[i], &why);
    EXPECT_EQ(module, nullptr) << "image " << i;
    EXPECT_FALSE(why.empty()) << "image " << i;
    ApplySkinFrom(module, EmbeddedSkinResource(), 30, 30);
    FreeModuleFromMemory(module);
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
  EXPECT_EQ(MappingsNaming("/memfd:vantrel-skin"), mappings);
  EXPECT_TRUE(CurrentLook() == ordinary);
}

TEST(SkinTest, ModuleWithoutTheExportsKeepsTheOrdinaryLook) {
  const std::vector<unsigned char> image = FileBytes(VANTREL_SKINLESS_MODULE);
  ASSERT_FALSE(image.empty());
  const Look ordinary = CurrentLook();
  const int mappings = MappingsNaming("/memfd:vantrel-skin");
  MappedModule* module = LoadModuleFromMemory(image);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(GetModuleExport(module, "SkinH_AttachRes"), nullptr);
  EXPECT_EQ(GetModuleExport(module, "SkinH_AdjustHSV"), nullptr);
  EXPECT_NE(GetModuleExport(module, "SkinH_AttachResource"), nullptr);
  ApplySkinFrom(module, EmbeddedSkinResource(), 40, 0);
  EXPECT_TRUE(CurrentLook() == ordinary);
  EXPECT_GT(MappingsNaming("/memfd:vantrel-skin"), mappings);
  FreeModuleFromMemory(module);
  EXPECT_EQ(MappingsNaming("/memfd:vantrel-skin"), mappings) << "freed, the module leaves no mapping";
}

TEST(SkinTest, DamagedSkinResourceKeepsTheOrdinaryLook) {
  MappedModule* module = LoadModuleFromMemory(EmbeddedSkinLibrary());
  ASSERT_NE(module, nullptr);
  const Look ordinary = CurrentLook();
  const std::span<const unsigned char> good = EmbeddedSkinResource();
  const std::string text(good.begin(), good.end());
  auto bytes = [](const std::string& s) { return std::vector<unsigned char>(s.begin(), s.end()); };
  std::string badColour = text, noHighlight = text, badUtf8 = text;
  badColour.replace(badColour.find("#eef1f5"), 7, "#eeg1f5");
  noHighlight.replace(noHighlight.find("\nhighlight ="), 11, "\nhighlite =");
  badUtf8.replace(badUtf8.find("[sheet]"), 0, "\xff\xfe");
  for (const std::string& skin : {std::string(), std::string(".SHE"), "SHE." + text.substr(4), badColour, noHighlight,
                                  badUtf8, std::string(".SHE 2") + text.substr(6)}) {
    ApplySkinFrom(module, bytes(skin), 0, 0);
    EXPECT_TRUE(CurrentLook() == ordinary) << skin.substr(0, 40);
  }
  // The same library with the whole skin does draw it.
  ApplySkinFrom(module, good, 0, 0);
  EXPECT_FALSE(CurrentLook() == ordinary);
  FreeModuleFromMemory(module);
}
