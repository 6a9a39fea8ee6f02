// Text conversion: UTF-8 inside the program, wide strings for the wide APIs,
// GB18030 for files and wire records declared as GB2312.
#pragma once

#include <QString>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// UTF-8 <-> wchar_t (UTF-32 here). Return 1 on success, 0 on invalid or null
// input; on failure the output is left as it was.
int AnsiToWide(const char* narrow, std::wstring& out);
int AnsiToWide(const std::string& narrow, std::wstring& out);
int WideToAnsi(const wchar_t* wide, std::string& out);
int WideToAnsi(const std::wstring& wide, std::string& out);

namespace qelm {

// True when the bytes are well-formed UTF-8 (no overlongs, surrogates or
// code points above U+10FFFF).
bool IsValidUtf8(std::string_view text);

// Whole-text conversions; nullopt when the input does not convert.
std::optional<std::string> Utf8ToGb18030(std::string_view utf8);
std::optional<std::string> Gb18030ToUtf8(std::string_view gb);

// Copies UTF-8 text into a fixed array: always terminated (when dstSize > 0),
// cut before a character that does not fit whole, stops at an embedded NUL.
// Returns the bytes copied, not counting the terminator.
std::size_t CopyBounded(char* dst, std::size_t dstSize, std::string_view utf8);

// Writes UTF-8 text as GB18030 into a record field of fieldSize bytes: at most
// fieldSize-1 bytes of whole characters, then zeros up to the end of the field.
// Invalid UTF-8 bytes become '?'. Returns the text bytes written.
std::size_t CopyToGbField(char* dst, std::size_t fieldSize, std::string_view utf8);

// Reads a GB18030 record field (up to the first NUL or fieldSize bytes) as
// UTF-8; each byte that does not convert becomes '?'.
std::string ReadGbField(const char* src, std::size_t fieldSize);

// Number of characters in UTF-8 text; a malformed byte counts as one.
std::size_t Utf8CharCount(std::string_view utf8);

// The Qt boundary.
QString ToQ(const std::string& utf8);
std::string FromQ(const QString& text);

} // namespace qelm
