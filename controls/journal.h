// The journal of calls into the stand-ins of closed components: when
// QELM2_JOURNAL names a file, each call and each event appends one line.
#pragma once

#include <QString>

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace qelm {

// One field of a journal line, as text. Integers and enums print in decimal,
// bool as 1/0, floating point in the shortest form that reads back, wide and
// Qt strings as UTF-8, a null C string as empty, other pointers as 0 or "ptr".
class JournalArg {
public:
    JournalArg() = default;
    template <class T>
        requires std::integral<T> && (!std::same_as<T, bool>)
    JournalArg(T v) : m_text(std::to_string(v)) {}
    template <class T>
        requires std::is_enum_v<T>
    JournalArg(T v) : m_text(std::to_string(static_cast<std::underlying_type_t<T>>(v))) {}
    JournalArg(bool v) : m_text(v ? "1" : "0") {}
    JournalArg(double v);
    JournalArg(float v);
    JournalArg(const char* s) : m_text(s ? s : "") {}
    JournalArg(const std::string& s) : m_text(s) {}
    JournalArg(std::string_view s) : m_text(s) {}
    JournalArg(const wchar_t* s);
    JournalArg(const std::wstring& s);
    JournalArg(std::wstring_view s);
    JournalArg(const QString& s);
    JournalArg(std::nullptr_t) : m_text("0") {}
    template <class T>
        requires(!std::is_same_v<std::remove_cv_t<T>, char> && !std::is_same_v<std::remove_cv_t<T>, wchar_t>)
    JournalArg(T* p) : m_text(p ? "ptr" : "0") {}

    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
};

class Journal {
public:
    // True when QELM2_JOURNAL names a file (read on every call).
    static bool Enabled();

    // "call", name, arguments..., "=" + result. For a call without a result,
    // leave it out: the last field is then "=".
    static void Call(std::string_view name, std::initializer_list<JournalArg> args, const JournalArg& result = {});
    // "event", name, arguments...
    static void Event(std::string_view name, std::initializer_list<JournalArg> args = {});

    // Backslash, tab, CR and LF become \\, \t, \r, \n.
    static std::string EscapeField(std::string_view field);
    // Splits a line (with or without its "\n") at tabs and undoes the escapes.
    static std::vector<std::string> ParseLine(std::string_view line);
};

} // namespace qelm
