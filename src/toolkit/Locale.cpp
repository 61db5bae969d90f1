#include "toolkit/Locale.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <locale>

namespace talvine::tk {

namespace {
// Plain storage: nothing to destroy when the module unloads.
char gSeparator[8] = {};
bool gRead = false;
bool gOverridden = false;

void readEnvironment() {
    // The user's locale as a value: the process's global locale stays as it is.
    char sep = '.';
    try {
        std::locale user("");
        sep = std::use_facet<std::numpunct<char>>(user).decimal_point();
    } catch (const std::exception&) {
        sep = '.'; // unknown or uninstalled locale
    }
    gSeparator[0] = sep;
    gSeparator[1] = '\0';
    gRead = true;
}
} // namespace

std::string decimalSeparator() {
    if (!gOverridden && !gRead) readEnvironment();
    return gSeparator;
}

void setDecimalSeparator(std::string separator) {
    std::size_t n = std::min(separator.size(), sizeof gSeparator - 1);
    std::memcpy(gSeparator, separator.data(), n);
    gSeparator[n] = '\0';
    gOverridden = true;
}

void resetDecimalSeparator() {
    gOverridden = false;
    gRead = false;
}

std::string formatFixed(long double x, int precision, int digits) {
    if (std::isnan(x)) return "NAN";
    if (std::isinf(x)) return x < 0 ? "-INF" : "INF";
    precision = precision < 1 ? 1 : precision > 18 ? 18 : precision;
    digits = digits < 0 ? 0 : digits > 18 ? 18 : digits;
    const bool negative = std::signbit(x);

    // Eighteen significant digits d0.d1...d17 times 10^exp, then rounded
    // half up on the decimal digits.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17Le", std::fabs(x));
    std::string mantissa;
    const char* p = buf;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') mantissa += *p;
    int exp = *p == 'e' ? std::atoi(p + 1) : 0;
    if (mantissa.find_first_not_of('0') == std::string::npos) exp = 0;

    // Keep `precision` digits, and no more than `digits` decimals.
    int keep = std::min(precision, exp + 1 + digits);
    std::string kept;
    if (keep < 0) {
        kept = "";
    } else if (keep == 0) {
        if (mantissa[0] >= '5') {
            kept = "1";
            exp += 1;
        }
    } else {
        kept = mantissa.substr(0, keep);
        if (mantissa[keep] >= '5') {
            int i = keep - 1;
            while (i >= 0 && kept[i] == '9')
                kept[i--] = '0';
            if (i >= 0)
                ++kept[i];
            else {
                kept.insert(kept.begin(), '1');
                kept.pop_back();
                exp += 1;
            }
        }
    }
    const bool zero = kept.find_first_not_of('0') == std::string::npos;
    const std::string sep = decimalSeparator();

    if (!zero && exp + 1 > precision) {
        // Too many integer digits for the precision.
        std::string m = kept.substr(0, 1) + sep + kept.substr(1);
        if (kept.size() == 1) m += '0';
        char e[16];
        std::snprintf(e, sizeof e, "E+%03d", exp);
        return (negative ? "-" : "") + m + e;
    }

    std::string integer = "0";
    std::string fraction;
    if (!zero) {
        if (exp >= 0) {
            integer = kept.substr(0, std::min<std::size_t>(kept.size(), exp + 1));
            integer.append(exp + 1 - integer.size(), '0');
            if (kept.size() > static_cast<std::size_t>(exp + 1)) fraction = kept.substr(exp + 1);
        } else {
            fraction = std::string(-exp - 1, '0') + kept;
        }
    }
    fraction.resize(digits, '0');
    std::string out = (negative && !zero ? "-" : "") + integer;
    if (digits > 0) out += sep + fraction;
    return out;
}

} // namespace talvine::tk
