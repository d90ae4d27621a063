// The skin library: a shared object the program carries inside itself and
// loads from memory. It knows the skin format; the program only hands it the
// bytes and a tint, through the two exported calls below.
//
// A skin is text after the four bytes ".SHE":
//
//   .SHE 1
//   [colours]
//   window = #eef1f5
//   ...
//   [sheet]
//   QGroupBox { border: 1px solid @border; }
//
// Colours named after palette roles (window, base, text, highlight, ...) make
// the palette; every colour can be used in the style sheet as @name. The tint
// turns and scales the hue and saturation of every colour alike, so a tinted
// skin keeps its contrasts.
#include <QApplication>
#include <QColor>
#include <QPalette>
#include <QRegularExpression>
#include <QString>
#include <QStringDecoder>
#include <QStyle>
#include <QStyleFactory>

#include <algorithm>
#include <cstring>
#include <map>

#define SKIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Results of the exported calls; the program does not look at them, but a
// person debugging a skin can.
enum SkinResult : int {
  kSkinApplied = 0,
  kNoApplication = 1,
  kNotASkin = 2,
  kDamagedSkin = 3,
  kNotAttached = 4,
};

struct Skin {
  std::map<QString, QColor> colours;
  QString sheet;
};

struct State {
  bool attached = false;
  Skin skin;
  int hue = 0;
  int saturation = 0;
};

State& Current() {
  static State state;
  return state;
}

struct RoleName {
  const char* name;
  QPalette::ColorRole role;
};

const RoleName kRoles[] = {
    {"window", QPalette::Window},
    {"windowText", QPalette::WindowText},
    {"base", QPalette::Base},
    {"alternateBase", QPalette::AlternateBase},
    {"text", QPalette::Text},
    {"button", QPalette::Button},
    {"buttonText", QPalette::ButtonText},
    {"brightText", QPalette::BrightText},
    {"highlight", QPalette::Highlight},
    {"highlightedText", QPalette::HighlightedText},
    {"toolTipBase", QPalette::ToolTipBase},
    {"toolTipText", QPalette::ToolTipText},
    {"placeholderText", QPalette::PlaceholderText},
    {"light", QPalette::Light},
    {"midlight", QPalette::Midlight},
    {"mid", QPalette::Mid},
    {"dark", QPalette::Dark},
    {"shadow", QPalette::Shadow},
    {"link", QPalette::Link},
};

SkinResult Parse(const unsigned char* data, int length, Skin& out) {
  if (!data || length < 4 || std::memcmp(data, ".SHE", 4) != 0) return kNotASkin;
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = utf8(QByteArrayView(reinterpret_cast<const char*>(data) + 4, length - 4));
  if (utf8.hasError()) return kDamagedSkin;
  const QStringList lines = text.split('\n');
  if (lines.isEmpty() || lines[0].trimmed() != "1") return kDamagedSkin;
  enum { kNone, kColours, kSheet } section = kNone;
  QStringList sheet;
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QString line = lines[i];
    const QString trimmed = line.trimmed();
    if (section != kSheet && (trimmed.isEmpty() || trimmed.startsWith('#'))) continue;
    if (trimmed == "[colours]") {
      section = kColours;
    } else if (trimmed == "[sheet]") {
      section = kSheet;
    } else if (section == kColours) {
      const qsizetype eq = line.indexOf('=');
      if (eq <= 0) return kDamagedSkin;
      const QString name = line.left(eq).trimmed();
      const QColor colour = QColor::fromString(line.mid(eq + 1).trimmed());
      static const QRegularExpression word("^[A-Za-z][A-Za-z0-9]*$");
      if (!colour.isValid() || !word.match(name).hasMatch()) return kDamagedSkin;
      out.colours[name] = colour;
    } else if (section == kSheet) {
      sheet << line;
    } else {
      return kDamagedSkin;
    }
  }
  // A palette without these would leave text unreadable on some widgets.
  for (const char* needed : {"window", "windowText", "base", "text", "button", "buttonText", "highlight"})
    if (!out.colours.count(needed)) return kDamagedSkin;
  out.sheet = sheet.join('\n');
  return kSkinApplied;
}

QColor Tinted(QColor colour, int hue, int saturation) {
  if (hue == 0 && saturation == 0) return colour;  // exact, without a round trip through HSV
  QColor hsv = colour.toHsv();
  int h = hsv.hsvHue();  // -1 for greys, which have no hue to turn
  if (h >= 0) h = ((h + hue) % 360 + 360) % 360;
  const int s = std::clamp(hsv.hsvSaturation() * (100 + saturation) / 100, 0, 255);
  return QColor::fromHsv(h, s, hsv.value(), colour.alpha());
}

void Paint(const State& state) {
  std::map<QString, QColor> colours;
  for (const auto& [name, colour] : state.skin.colours) colours[name] = Tinted(colour, state.hue, state.saturation);

  QApplication::setStyle(QStyleFactory::create("Fusion"));
  QPalette palette = QApplication::style()->standardPalette();
  for (const RoleName& r : kRoles) {
    auto found = colours.find(r.name);
    if (found != colours.end()) palette.setColor(r.role, found->second);
  }
  auto disabled = colours.find("disabledText");
  if (disabled != colours.end()) {
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
      palette.setColor(QPalette::Disabled, role, disabled->second);
  }
  QApplication::setPalette(palette);

  // @name in the sheet stands for the tinted colour of that name; an unknown
  // name is left as written, which the style sheet parser then ignores.
  static const QRegularExpression reference("@([A-Za-z][A-Za-z0-9]*)");
  QString sheet;
  qsizetype from = 0;
  for (auto it = reference.globalMatch(state.skin.sheet); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    sheet += state.skin.sheet.mid(from, m.capturedStart() - from);
    auto found = colours.find(m.captured(1));
    sheet += found != colours.end() ? found->second.name(QColor::HexArgb) : m.captured(0);
    from = m.capturedEnd();
  }
  sheet += state.skin.sheet.mid(from);
  qApp->setStyleSheet(sheet);
}

}  // namespace

// Our skins carry no password; the parameter is there for skins that might.
SKIN_EXPORT int SkinH_AttachRes(const unsigned char* data, int length, const char* /*password*/) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return kNoApplication;
  Skin skin;
  if (SkinResult result = Parse(data, length, skin); result != kSkinApplied) return result;
  State& state = Current();
  state.skin = std::move(skin);
  state.attached = true;
  Paint(state);
  return kSkinApplied;
}

SKIN_EXPORT int SkinH_AdjustHSV(int hue, int saturation) {
  State& state = Current();
  state.hue = std::clamp(hue, -180, 180);
  state.saturation = std::clamp(saturation, -100, 100);
  if (!state.attached) return kNotAttached;
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return kNoApplication;
  Paint(state);
  return kSkinApplied;
}
