// The configuration files under Config/: where they live, reading them as
// GB18030 XML, saving them atomically and keeping a damaged file aside.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

class TiXmlDocument;
class TiXmlElement;

// Folder of the configuration files with a trailing '/': "<program folder>Config/",
// or the folder SetConfigDir named (tests point it at a temporary folder).
std::string ConfigDir();
// "" restores the program folder's Config/.
void SetConfigDir(const std::string& dir);
// ConfigDir() + name.
std::string ConfigFilePath(const char* name);

namespace qelm::cfg {

enum class LoadResult {
    Ok,      // parsed
    Missing, // no such file
    Damaged, // unreadable or not well-formed
};

// Reads and parses an XML configuration file. The document keeps the file's
// bytes: texts stay GB18030 inside it (see Text / AppendText below). A file
// that starts with a UTF-8 byte-order mark is UTF-8 text: it is converted to
// GB18030 and its declaration made to say so. A file nested deeper than
// kMaxXmlNesting is Damaged.
LoadResult LoadXmlFile(const std::string& path, TiXmlDocument& doc);

// What one file can make the program hold: records of one kind (devices,
// groups, users, roles, plans, pane entries), and records nested in them
// (plan members and time segments) counted over the whole file.
constexpr std::size_t kMaxRecords = 10000;
constexpr std::size_t kMaxNestedRecords = 100000;

// The line that tells of records past a bound:
// "<file>: <total> <tag> records, the first <limit> loaded, the rest refused."
std::string RefusedRecords(const std::string& path, const char* tag, std::size_t total, std::size_t limit);

// Elements named tag from e on (e included).
std::size_t CountElements(const TiXmlElement* e, const char* tag);

// Writes data to path through a temporary file in the same folder (fsync,
// then rename), so a crash never leaves a half-written file. False on failure
// (the old file is then unchanged).
bool WriteFileAtomic(const std::string& path, std::string_view data);

// Removes what a save killed before its rename leaves in folder dir: regular
// files named "<name>.tmp-XXXXXX" (as WriteFileAtomic makes them) for each of
// names, and nothing else. Each removal is logged; returns how many.
int RemoveStaleTempFiles(const std::string& dir, std::initializer_list<const char*> names);

// Prints the document as TinyXML does and writes it atomically.
bool SaveXmlFile(const std::string& path, const TiXmlDocument& doc);

// After a failed load: moves a damaged file aside (to "<name>.damaged-<time>.xml"
// in the same folder) and then writes the template. keptAs receives the new name
// of the damaged file ("" when there was none). False when the damaged file could
// not be moved (nothing is written then) or the template could not be written.
bool ReplaceWithTemplate(const std::string& path, LoadResult why, std::string_view tmpl, std::string* keptAs);

// A loader's first step: parses path into doc, or, when it cannot, keeps the
// damaged file aside, writes the template and logs both; false then.
bool LoadOrWriteTemplate(const std::string& path, TiXmlDocument& doc, std::string_view tmpl);

// A saver's first step: parses path into doc, or logs "Failed to load file"
// and returns false (the saver then writes nothing).
bool LoadForSave(const std::string& path, TiXmlDocument& doc);

// A loader's frame: LoadOrWriteTemplate, then the root element; nullptr when
// the file could not be read or has no root element.
const TiXmlElement* LoadRoot(const std::string& path, TiXmlDocument& doc, std::string_view tmpl);

// A saver's frame: LoadForSave, fill(root), SaveXmlFile; a failed write is
// logged as "<who>: cannot write <path>.". Nothing is written when the file
// cannot be loaded or has no root element.
void SaveWithRoot(const std::string& path, const char* who, const std::function<void(TiXmlElement* root)>& fill);

// Text of an element (its first child when that is text) or of an attribute,
// converted from GB18030 to UTF-8; bytes that do not convert become '?'.
std::string Text(const TiXmlElement* elem);
std::string Attr(const TiXmlElement* elem, const char* name, bool* present = nullptr);

// UTF-8 to the file's GB18030; malformed UTF-8 bytes become '?'.
std::string ToFileText(std::string_view utf8);

// Copies UTF-8 text into a fixed field, cut before a character that does not
// fit; a cut is logged with `what` naming the field.
void CopyField(char* dst, std::size_t size, std::string_view utf8, const char* what);

// The decimal value of the leading digits (optional blanks and sign first);
// 0 without digits; clamped to the int range.
int ParseDecimal(const char* text);
int ParseDecimal(const std::string& text);

// Appends <name>text</name> (text converted to GB18030; an empty text gives
// <name></name>) and returns the new element.
TiXmlElement* AppendText(TiXmlElement* parent, const char* name, std::string_view utf8);
TiXmlElement* AppendInt(TiXmlElement* parent, const char* name, int value);
// Appends an empty <name/> and returns it.
TiXmlElement* AppendElement(TiXmlElement* parent, const char* name);

// Sets an attribute from UTF-8 text or an int.
void SetAttr(TiXmlElement* elem, const char* name, std::string_view utf8);
void SetAttr(TiXmlElement* elem, const char* name, int value);

// Removes every child node of the element.
void ClearChildren(TiXmlElement* elem);

} // namespace qelm::cfg
