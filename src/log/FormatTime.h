#pragma once
// Every time text of the program: trigger times of rows, the daily log
// directory, default file names.
#include "time/Clock.h"

#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

// style 0..3 picks the separators (others count as 0); part 0 date and time,
// 1 date, 2 month and day, 3 time, 4 hours and minutes, 5 minutes and
// seconds (others count as 0); clock 1 = 12-hour, 2 = 24-hour, otherwise the
// user's locale decides. An absent time means now on the system's clock.
std::string FormatTime(std::optional<double> time, int style, int part, int clock);
// The same of a local time, milliseconds dropped as log records drop them:
// for "now" on a clock of one's own (Clock::Local).
std::string FormatTime(const LocalDateTime& at, int style, int part, int clock);
// A row's time text, FormatTime(at, 1, 0, 2), without a copy: this thread's
// own, valid until its next call.
const std::string& RowTimeText(const LocalDateTime& at);

// Renders through explicit date and time pictures (yyyy, MM, dd, hh, HH, mm,
// ss and the other picture letters; everything else is copied). A picture of
// two bytes or less renders as empty; "" when neither is given.
std::string FormatTimePictures(std::optional<double> time, std::optional<std::string_view> datePicture,
                               std::optional<std::string_view> timePicture, bool force24Hour = false);

// 1 when the user's LC_TIME locale writes times on a 24-hour clock, else 0.
int LocaleUses24Hour();

}  // namespace vantrel
