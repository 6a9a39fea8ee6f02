// The value-aware comparison of the report list's sorting: hexadecimal,
// decimal (with an optional "%"), date-time, then plain text, in that order.
#pragma once

#include "platform/types.h"

#include <string>
#include <string_view>

namespace qelm::report {

// strtoul(text, &end, 16) of a 32-bit C library, consuming the whole text:
// leading white space, a sign, an optional "0x", at least one hex digit.
// A minus sign negates modulo 2^32 ("-1" is 0xFFFFFFFF); a magnitude beyond
// 32 bits gives 0xFFFFFFFF.
bool ParseHex32(std::string_view text, DWORD& value);

// A plain decimal number ([white space][sign]digits[.digits][e[sign]digits]),
// whole or followed by exactly one "%". No "nan", "inf" or hex floats.
bool ParseDecimal(std::string_view text, double& value);

// A date, a time or both: a date of three numbers separated by "-", "/" or
// "." with the year first ("2024-01-31", "2024/1/31") or in the order of the
// locale's short date format (two-digit years 00-29 in this century), then
// optionally a time "H:MM[:SS]" with an optional "AM"/"PM"; or a bare time,
// which lies on 1899-12-30 as date-time values without a date do. The value
// is seconds from that day.
bool ParseDateTime(std::string_view text, double& value);

// -1, 0 or 1 by the first rule both texts satisfy: both non-empty
// hexadecimal numbers, both non-empty decimal numbers, both date-times,
// else byte-wise comparison of the (UTF-8) texts.
int CompareCellTexts(const std::string& a, const std::string& b);

// The parsed forms of one cell, so that a sort parses each text once.
struct CellKey {
    std::string text;
    bool hex = false;
    DWORD hexValue = 0;
    bool dec = false;
    double decValue = 0;
    bool date = false;
    double dateValue = 0;
};
CellKey MakeCellKey(const std::string& text);
int CompareCellKeys(const CellKey& a, const CellKey& b);

} // namespace qelm::report
