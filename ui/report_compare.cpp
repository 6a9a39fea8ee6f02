// Cell comparison rules of the report list's sorting.
#include "ui/report_compare.h"

#include <QDate>
#include <QLocale>
#include <QString>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

namespace qelm::report {

namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

template <class T> int Sign(const T& a, const T& b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

// Order of day, month and year in the locale's short date format: a string
// like "mdy", "dmy" or "ymd".
std::string LocaleDateOrder()
{
    static const std::string order = [] {
        const QString f = QLocale::system().dateFormat(QLocale::ShortFormat);
        std::string o;
        for (QChar c : f) {
            const char k = c == QLatin1Char('d') ? 'd' : c == QLatin1Char('M') ? 'm' : c == QLatin1Char('y') ? 'y' : 0;
            if (k && o.find(k) == std::string::npos)
                o += k;
        }
        return o.size() == 3 ? o : std::string("mdy");
    }();
    return order;
}

// Splits "a<sep>b<sep>c" of decimal fields; false unless all are 1..4 digits.
bool SplitFields(std::string_view s, const char* seps, std::vector<std::string_view>& out, char* sepUsed)
{
    out.clear();
    char sep = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || !IsDigit(s[i])) {
            if (i == start || i - start > 4)
                return false;
            out.push_back(s.substr(start, i - start));
            if (i == s.size())
                break;
            if (!std::strchr(seps, s[i]) || (sep && s[i] != sep))
                return false;
            sep = s[i];
            start = i + 1;
        }
    }
    if (sepUsed)
        *sepUsed = sep;
    return true;
}

int ToInt(std::string_view f)
{
    int v = 0;
    for (char c : f)
        v = v * 10 + (c - '0');
    return v;
}

bool ParseDatePart(std::string_view s, QDate& date)
{
    std::vector<std::string_view> f;
    char sep = 0;
    if (!SplitFields(s, "-/.", f, &sep) || f.size() != 3)
        return false;
    int y, m, d;
    if (f[0].size() == 4) { // year first, whatever the locale
        y = ToInt(f[0]), m = ToInt(f[1]), d = ToInt(f[2]);
    } else {
        const std::string order = LocaleDateOrder();
        const std::size_t iy = order.find('y'), im = order.find('m'), id = order.find('d');
        if (iy > 2 || im > 2 || id > 2)
            return false;
        y = ToInt(f[iy]), m = ToInt(f[im]), d = ToInt(f[id]);
        const std::string_view yf = f[iy];
        if (yf.size() <= 2) // two-digit years: 00-29 this century, 30-99 the last
            y += y < 30 ? 2000 : 1900;
        else if (yf.size() == 3)
            return false;
    }
    date = QDate(y, m, d);
    return date.isValid();
}

bool ParseTimePart(std::string_view s, int& seconds)
{
    int addHours = 0;
    bool twelve = false;
    auto endsWith = [&](const char* suffix) {
        const std::size_t n = std::strlen(suffix);
        if (s.size() < n)
            return false;
        for (std::size_t i = 0; i < n; ++i)
            if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i])
                return false;
        return true;
    };
    if (endsWith("am") || endsWith("pm")) {
        twelve = true;
        addHours = endsWith("pm") ? 12 : 0;
        s.remove_suffix(2);
        while (!s.empty() && s.back() == ' ')
            s.remove_suffix(1);
    }
    std::vector<std::string_view> f;
    if (!SplitFields(s, ":", f, nullptr) || f.size() < 2 || f.size() > 3)
        return false;
    for (const auto& x : f)
        if (x.size() > 2)
            return false;
    int h = ToInt(f[0]);
    const int m = ToInt(f[1]);
    const int sec = f.size() == 3 ? ToInt(f[2]) : 0;
    if (twelve) {
        if (h < 1 || h > 12)
            return false;
        h = h % 12 + addHours;
    }
    if (h > 23 || m > 59 || sec > 59)
        return false;
    seconds = h * 3600 + m * 60 + sec;
    return true;
}

} // namespace

bool ParseHex32(std::string_view text, DWORD& value)
{
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // "0x" counts as a prefix only when a hex digit follows it.
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        HexDigit(text[i + 2]) >= 0)
        i += 2;
    const std::size_t firstDigit = i;
    std::uint64_t v = 0;
    bool overflow = false;
    for (; i < text.size(); ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0)
            break;
        v = v * 16 + static_cast<unsigned>(d);
        if (v > 0xFFFFFFFFull) {
            overflow = true;
            v = 0xFFFFFFFFull; // keeps the product bounded while scanning on
        }
    }
    if (i == firstDigit || i != text.size())
        return false;
    if (overflow)
        value = 0xFFFFFFFFu;
    else
        value = negative ? static_cast<DWORD>(0u - static_cast<DWORD>(v)) : static_cast<DWORD>(v);
    return true;
}

bool ParseDecimal(std::string_view text, double& value)
{
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    std::string number;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-')
            number += '-';
        ++i;
    }
    const std::size_t start = i;
    std::size_t intDigits = 0, fracDigits = 0;
    while (i < text.size() && IsDigit(text[i]))
        ++i, ++intDigits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i]))
            ++i, ++fracDigits;
    }
    if (intDigits + fracDigits == 0)
        return false;
    // An exponent counts only when digits follow it; otherwise the number ends
    // before the "e" and the rest is not a "%".
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < text.size() && IsDigit(text[j])) {
            while (j < text.size() && IsDigit(text[j]))
                ++j;
            i = j;
        }
    }
    // from_chars wants a digit before the point.
    if (intDigits == 0)
        number += '0';
    number.append(text.substr(start, i - start));
    if (i < text.size() && text[i] == '%')
        ++i;
    if (i != text.size())
        return false;
    double v = 0;
    const auto res = std::from_chars(number.data(), number.data() + number.size(), v, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        // strtod saturates; only the order matters here.
        const bool neg = !number.empty() && number[0] == '-';
        const std::size_t e = number.find_first_of("eE");
        const bool tiny = e != std::string::npos && e + 1 < number.size() && number[e + 1] == '-';
        v = tiny ? (neg ? -0.0 : 0.0) : (neg ? -HUGE_VAL : HUGE_VAL);
    } else if (res.ec != std::errc() || res.ptr != number.data() + number.size()) {
        return false;
    }
    value = v;
    return true;
}

bool ParseDateTime(std::string_view text, double& value)
{
    // Trim and fold runs of blanks, as a date parser would skip them.
    std::string s;
    for (char c : text) {
        if (IsSpace(c)) {
            if (!s.empty() && s.back() != ' ')
                s += ' ';
        } else {
            s += c;
        }
    }
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    if (s.empty() || s.size() > 40)
        return false;
    static const QDate base(1899, 12, 30);
    const std::size_t space = s.find(' ');
    const std::string_view all(s);
    QDate date;
    int seconds = 0;
    if (ParseDatePart(all.substr(0, space), date)) {
        if (space != std::string::npos && !ParseTimePart(all.substr(space + 1), seconds))
            return false;
    } else if (ParseTimePart(all, seconds)) {
        date = base; // a bare time
    } else {
        return false;
    }
    value = static_cast<double>(base.daysTo(date)) * 86400.0 + seconds;
    return true;
}

CellKey MakeCellKey(const std::string& text)
{
    CellKey k;
    k.text = text;
    if (!text.empty()) {
        k.hex = ParseHex32(text, k.hexValue);
        k.dec = ParseDecimal(text, k.decValue);
    }
    k.date = ParseDateTime(text, k.dateValue);
    return k;
}

int CompareCellKeys(const CellKey& a, const CellKey& b)
{
    if (a.hex && b.hex)
        return Sign(a.hexValue, b.hexValue);
    if (a.dec && b.dec)
        return Sign(a.decValue, b.decValue);
    if (a.date && b.date)
        return Sign(a.dateValue, b.dateValue);
    const int c = std::strcmp(a.text.c_str(), b.text.c_str());
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareCellTexts(const std::string& a, const std::string& b)
{
    return CompareCellKeys(MakeCellKey(a), MakeCellKey(b));
}

} // namespace qelm::report
