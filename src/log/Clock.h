#pragma once
// The local wall clock, replaceable so that time texts can be tested.
#include <functional>

namespace vantrel {

struct LocalDateTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  bool operator==(const LocalDateTime&) const = default;
};

LocalDateTime LocalNow();

// Tests install a fixed clock; an empty function restores the real one.
void SetClockForTesting(std::function<LocalDateTime()> clock);

// Automation dates count days since 30 December 1899; the fraction is the
// time of day.
double ToAutomationDate(const LocalDateTime& t);
// False for values outside years 100 to 9999 or not a number. Rounds to the
// nearest second, as the original conversion did.
bool FromAutomationDate(double value, LocalDateTime& out);

}  // namespace vantrel
