#pragma once
// Local times as automation dates, which the list's time texts are made
// from. The local time itself comes from a Clock (time/Clock.h).
#include "time/Clock.h"

namespace vantrel {

// Automation dates count days since 30 December 1899; the fraction is the
// time of day.
double ToAutomationDate(const LocalDateTime& t);
// False for values outside years 100 to 9999 or not a number. Rounds to the
// nearest second, as the original conversion did.
bool FromAutomationDate(double value, LocalDateTime& out);

}  // namespace vantrel
