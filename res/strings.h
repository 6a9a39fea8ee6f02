// The string tables: texts by id from the built-in Chinese and English tables,
// or from a language file that replaces them ("LangSC.lang", "LangEn.lang", ...).
#pragma once

#include "platform/types.h"

#include <cstddef>
#include <map>
#include <string>

// Language files and the built-in tables share one format: UTF-8 text, one
// entry per line "id<TAB>text"; blank lines and lines starting with '#' are
// skipped; a UTF-8 byte-order mark is allowed at the start. In the text,
// "\n", "\r", "\t" and "\\" stand for a line break, carriage return, tab and
// backslash. Ids run from 0 to 65535 and appear once per file.

// The text of a string id in the active table, UTF-8; "" when no table has
// it. A loaded language file answers first; ids it lacks come from the
// built-in table. Any thread.
std::string LoadResString(UINT id);
std::wstring LoadResStringW(UINT id);
// True when the active table (or the built-in one behind it) holds the id.
bool HasResString(UINT id);

// Reads a language file and makes it the active table. False (and the
// active table unchanged) when the file is missing, unreadable, larger than
// 4 MiB or malformed.
bool LoadLanguageFile(const char* path);
// Drops a loaded language file: the built-in table answers again.
void UnloadLanguageFile();

// The built-in tables. Which one answers is taken from the user's locale
// (Chinese locales the Chinese table, any other the English one), as a
// program's own resources are chosen by the user's language.
enum class ResLanguage { Chinese = 0, English = 1 };
ResLanguage GetBuiltinLanguage();
void SetBuiltinLanguage(ResLanguage lang);
// The text of an id in one built-in table, whatever is active; "" when absent.
std::string BuiltinResString(ResLanguage lang, UINT id);
// Number of ids in a built-in table.
std::size_t BuiltinResStringCount(ResLanguage lang);

// File name of the language file for a language index (0 "LangSC.lang",
// 1 "LangEn.lang", 2 "LangTC.lang", 3 "LangRS.lang", 4 "LangHB.lang",
// 5 "LangTK.lang", 6 "LangCZ.lang", any other index "LangEn.lang").
const char* LanguageFileName(int languageIndex);

namespace qelm::res {

// Parses a table in the file format above into id -> text. On failure
// returns false and, when error is given, says which line and why.
bool ParseStringTable(const std::string& bytes, std::map<UINT, std::string>& out, std::string* error = nullptr);

} // namespace qelm::res
