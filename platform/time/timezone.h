// Time-zone bias and the locale's date and time separators.
#pragma once

#include <string>

namespace ferrix {

// Bias in minutes, UTC = local time + bias. The base bias is the standard-time one, without
// any daylight-saving part; the current bias is the one in force now.
int GetTimeZoneBaseBias();
int GetTimeZoneCurrentBias();

// The short-date and time separators of the process locale ("/" and ":" in the C locale).
char LocaleDateSeparator();
char LocaleTimeSeparator();

}  // namespace ferrix
