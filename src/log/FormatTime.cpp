#include "log/FormatTime.h"

#include "log/AutomationDate.h"
#include "platform/LocalTime.h"
#include "text/Codec.h"
#include "text/TextRules.h"

namespace vantrel {
namespace {

struct Pictures {
  const char* fullDate;
  const char* fullTime;
  const char* monthDay;
  const char* hoursMinutes;
  const char* minutesSeconds;
};

constexpr Pictures kPictures[4] = {
    {"yyyy年MM月dd日 ", "hh时mm分ss秒", "MM月dd日", "hh时mm分", "mm分ss秒"},
    {"yyyy-MM-dd ", "hh:mm:ss", "MM-dd", "hh:mm", "mm:ss"},
    {"yyyy/MM/dd ", "hh/mm/ss", "MM/dd", "hh/mm", "mm/ss"},
    {"yyyyMMdd", "hhmmss", "MMdd", "hhmm", "mmss"},
};

void AppendNumber(std::string& out, int value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) out.append(static_cast<std::size_t>(width) - digits.size(), '0');
  out += digits;
}

// Walks a picture, handing each run of one letter to render and copying the
// rest; text inside single quotes is literal, as in the original pictures.
template <typename Render>
std::string RenderPicture(std::string_view picture, std::string_view letters, Render render) {
  std::string out;
  for (std::size_t i = 0; i < picture.size();) {
    char c = picture[i];
    if (c == '\'') {
      std::size_t close = picture.find('\'', i + 1);
      if (close == i + 1) {
        out += '\'';
      } else {
        out.append(picture.substr(i + 1, (close == std::string_view::npos ? picture.size() : close) - i - 1));
      }
      i = close == std::string_view::npos ? picture.size() : close + 1;
      continue;
    }
    if (letters.find(c) == std::string_view::npos) {
      out += c;
      ++i;
      continue;
    }
    std::size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c) ++run;
    render(out, c, static_cast<int>(run));
    i += run;
  }
  return out;
}

std::string RenderDate(std::string_view picture, const LocalDateTime& t) {
  return RenderPicture(picture, "dMy", [&](std::string& out, char c, int run) {
    if (c == 'y') {
      if (run <= 2) {
        AppendNumber(out, t.year % 100, run == 1 ? 1 : 2);
      } else {
        AppendNumber(out, t.year, 4);
      }
    } else if (c == 'M') {
      if (run <= 2) {
        AppendNumber(out, t.month, run);
      } else {
        out += platform::LocaleMonthName(t.month, run == 3);
      }
    } else if (run <= 2) {
      AppendNumber(out, t.day, run);
    } else {
      // 1899-12-30 was a Saturday.
      long long days = static_cast<long long>(ToAutomationDate({t.year, t.month, t.day, 0, 0, 0, 0}));
      int weekday = static_cast<int>(((days % 7) + 7 + 6) % 7);
      out += platform::LocaleDayName(weekday, run == 3);
    }
  });
}

std::string RenderTime(std::string_view picture, const LocalDateTime& t, bool force24) {
  return RenderPicture(picture, "hHmst", [&](std::string& out, char c, int run) {
    int width = run >= 2 ? 2 : 1;
    switch (c) {
      case 'h':
        if (!force24) {
          AppendNumber(out, t.hour % 12 == 0 ? 12 : t.hour % 12, width);
          break;
        }
        [[fallthrough]];
      case 'H':
        AppendNumber(out, t.hour, width);
        break;
      case 'm':
        AppendNumber(out, t.minute, width);
        break;
      case 's':
        AppendNumber(out, t.second, width);
        break;
      default: {
        std::string marker = platform::LocaleDayPeriod(t.hour >= 12);
        out += run == 1 ? marker.substr(0, 1) : marker;
      }
    }
  });
}

}  // namespace

std::string FormatTimePictures(std::optional<double> time, std::optional<std::string_view> datePicture,
                               std::optional<std::string_view> timePicture, bool force24Hour) {
  if (!datePicture && !timePicture) return {};
  LocalDateTime t;
  if (!time) {
    LocalDateTime now = Clock::System().Local();
    // Truncated, as log records are: a row and its record name the same
    // second and the same day.
    now.millisecond = 0;
    time = ToAutomationDate(now);
  }
  if (!FromAutomationDate(*time, t)) return {};
  std::string text;
  if (datePicture && AnsiByteLength(*datePicture) > 2) text += RenderDate(*datePicture, t);
  if (timePicture && AnsiByteLength(*timePicture) > 2) text += RenderTime(*timePicture, t, force24Hour);
  return text;
}

namespace {

const std::string& MemoFormatTime(const LocalDateTime& at, int style, int part, int clock) {
  LocalDateTime now = at;
  now.millisecond = 0;
  // The current time is asked for on every event, thousands of times within
  // the same second: the text of the second is made once. (A clock that
  // follows the locale is not kept, as the locale may change.)
  struct Memo {
    LocalDateTime at;
    int style = -1, part = -1, clock = -1;
    std::string text;
  };
  thread_local Memo memo;
  if (memo.style == style && memo.part == part && memo.clock == clock && memo.at == now) return memo.text;
  memo.text = FormatTime(ToAutomationDate(now), style, part, clock);
  memo.at = now;
  memo.style = style;
  memo.part = part;
  memo.clock = clock;
  return memo.text;
}

}  // namespace

std::string FormatTime(const LocalDateTime& at, int style, int part, int clock) {
  if (clock != 1 && clock != 2) {
    LocalDateTime now = at;
    now.millisecond = 0;
    return FormatTime(ToAutomationDate(now), style, part, clock);
  }
  return MemoFormatTime(at, style, part, clock);
}

const std::string& RowTimeText(const LocalDateTime& at) { return MemoFormatTime(at, 1, 0, 2); }

std::string FormatTime(std::optional<double> time, int style, int part, int clock) {
  if (!time) return FormatTime(Clock::System().Local(), style, part, clock);
  if (style < 0 || style > 3) style = 0;
  if (part < 0 || part > 5) part = 0;
  const Pictures& p = kPictures[style];
  std::string date = p.fullDate;
  std::string timePicture = p.fullTime;
  if (part >= 3) date.clear();
  if (part == 1 || part == 2) timePicture.clear();
  if (part == 1) date = std::string(TrimBlanks(date));
  if (part == 2) date = p.monthDay;
  if (part == 4) timePicture = p.hoursMinutes;
  if (part == 5) timePicture = p.minutesSeconds;
  bool use24 = (clock == 1 || clock == 2) ? clock == 2 : LocaleUses24Hour() == 1;
  if (use24) timePicture = ReplaceAll(timePicture, "hh", "HH");
  return FormatTimePictures(time, date, timePicture, false);
}

int LocaleUses24Hour() { return platform::LocaleUses24HourClock() ? 1 : 0; }

}  // namespace vantrel
