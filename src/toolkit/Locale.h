// The user's number notation, for labels that show decimals.
#pragma once

#include <string>

namespace talvine::tk {

// The decimal separator of the user's locale (LC_ALL, LC_NUMERIC, LANG), read
// once without touching the process's global locale; "." when the locale is
// unknown.  Tests override it.
std::string decimalSeparator();
void setDecimalSeparator(std::string separator);
void resetDecimalSeparator();

// x rounded to `precision` significant digits (halves away from zero), then
// written with `digits` decimals and the user's separator: formatFixed(2.5,
// 2, 2) is "2.50", or "2,50" in a French locale.  A number with more integer
// digits than `precision` is written in scientific notation ("1.0E+003").
std::string formatFixed(long double x, int precision, int digits);

} // namespace talvine::tk
