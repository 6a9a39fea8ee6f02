// String tables: the built-in tables compiled from res/strings_*.txt, and the
// language file that can replace them at run time.
#include "res/strings.h"

#include "platform/logsink.h"
#include "platform/regular_file.h"
#include "platform/text.h"

#include <QLocale>

#include <array>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>

namespace qelm::res::detail {
// Generated from strings_zh.txt and strings_en.txt at build time.
extern const unsigned char kStringsZh[];
extern const std::size_t kStringsZhSize;
extern const unsigned char kStringsEn[];
extern const std::size_t kStringsEnSize;
} // namespace qelm::res::detail

namespace {

using Table = std::map<UINT, std::string>;

constexpr std::size_t kMaxLanguageFileSize = 4 * 1024 * 1024;

const Table& BuiltinTable(ResLanguage lang)
{
    static const std::array<Table, 2> tables = [] {
        using namespace qelm::res::detail;
        Table zh, en;
        std::string err;
        // The build checks both files through the tests; a broken one leaves
        // its table empty rather than half-filled.
        if (!qelm::res::ParseStringTable(std::string(reinterpret_cast<const char*>(kStringsZh), kStringsZhSize), zh, &err))
            qelm::PlatformLog(3, "built-in Chinese string table: %s", err.c_str());
        if (!qelm::res::ParseStringTable(std::string(reinterpret_cast<const char*>(kStringsEn), kStringsEnSize), en, &err))
            qelm::PlatformLog(3, "built-in English string table: %s", err.c_str());
        return std::array<Table, 2>{std::move(zh), std::move(en)};
    }();
    return tables[lang == ResLanguage::Chinese ? 0 : 1];
}

ResLanguage LanguageOfLocale()
{
    return QLocale::system().language() == QLocale::Chinese ? ResLanguage::Chinese : ResLanguage::English;
}

struct State {
    std::mutex mutex;
    std::shared_ptr<const Table> file; // the loaded language file, or null
    bool builtinChosen = false;
    ResLanguage builtin = ResLanguage::English;
};

State& GetState()
{
    static State state;
    return state;
}

ResLanguage BuiltinLocked(State& s)
{
    if (!s.builtinChosen) {
        s.builtin = LanguageOfLocale();
        s.builtinChosen = true;
    }
    return s.builtin;
}

// Copies the text of id into out (when given); false when no table has it.
bool Lookup(UINT id, std::string* out)
{
    State& s = GetState();
    std::shared_ptr<const Table> file;
    ResLanguage lang;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        file = s.file;
        lang = BuiltinLocked(s);
    }
    // A published table is never changed; holding `file` keeps it alive.
    if (file) {
        auto it = file->find(id);
        if (it != file->end()) {
            if (out)
                *out = it->second;
            return true;
        }
    }
    const Table& t = BuiltinTable(lang);
    auto it = t.find(id);
    if (it == t.end())
        return false;
    if (out)
        *out = it->second;
    return true;
}

bool ParseId(const std::string& s, UINT& id)
{
    if (s.empty() || s.size() > 5)
        return false;
    unsigned v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > 65535)
        return false;
    id = v;
    return true;
}

bool Unescape(const std::string& in, std::string& out)
{
    out.clear();
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out += in[i];
            continue;
        }
        if (++i == in.size())
            return false;
        switch (in[i]) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case '\\': out += '\\'; break;
        default: return false;
        }
    }
    return true;
}

} // namespace

namespace qelm::res {

bool ParseStringTable(const std::string& bytes, std::map<UINT, std::string>& out, std::string* error)
{
    auto fail = [error](int line, const char* why) {
        if (error)
            *error = "line " + std::to_string(line) + ": " + why;
        return false;
    };
    Table table;
    std::size_t pos = 0;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        pos = 3;
    int lineNo = 0;
    while (pos < bytes.size()) {
        std::size_t end = bytes.find('\n', pos);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos)
            return fail(lineNo, "no tab between id and text");
        UINT id = 0;
        if (!ParseId(line.substr(0, tab), id))
            return fail(lineNo, "id is not a number from 0 to 65535");
        std::string text;
        if (!Unescape(line.substr(tab + 1), text))
            return fail(lineNo, "unknown escape (use \\n, \\r, \\t or \\\\)");
        if (!qelm::IsValidUtf8(text))
            return fail(lineNo, "text is not UTF-8");
        if (!table.emplace(id, std::move(text)).second)
            return fail(lineNo, "id appears twice");
    }
    out = std::move(table);
    return true;
}

} // namespace qelm::res

std::string LoadResString(UINT id)
{
    std::string text;
    Lookup(id, &text);
    return text;
}

std::wstring LoadResStringW(UINT id)
{
    std::wstring w;
    AnsiToWide(LoadResString(id), w);
    return w;
}

bool HasResString(UINT id)
{
    return Lookup(id, nullptr);
}

bool LoadLanguageFile(const char* path)
{
    if (!path || !*path)
        return false;
    std::string bytes, why;
    if (!qelm::ReadRegularFile(path, bytes, &why, kMaxLanguageFileSize)) {
        if (errno != ENOENT) // a missing language file is not worth a word
            qelm::PlatformLog(3, "language file %s cannot be read: %s", path, why.c_str());
        return false;
    }
    auto table = std::make_shared<Table>();
    std::string err;
    if (!qelm::res::ParseStringTable(bytes, *table, &err)) {
        qelm::PlatformLog(3, "language file %s: %s", path, err.c_str());
        return false;
    }
    State& s = GetState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.file = std::move(table);
    return true;
}

void UnloadLanguageFile()
{
    State& s = GetState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.file.reset();
}

ResLanguage GetBuiltinLanguage()
{
    State& s = GetState();
    std::lock_guard<std::mutex> lock(s.mutex);
    return BuiltinLocked(s);
}

void SetBuiltinLanguage(ResLanguage lang)
{
    State& s = GetState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.builtin = lang;
    s.builtinChosen = true;
}

std::string BuiltinResString(ResLanguage lang, UINT id)
{
    const Table& t = BuiltinTable(lang);
    auto it = t.find(id);
    return it == t.end() ? std::string() : it->second;
}

std::size_t BuiltinResStringCount(ResLanguage lang)
{
    return BuiltinTable(lang).size();
}

const char* LanguageFileName(int languageIndex)
{
    static const char* const names[] = {"LangSC.lang", "LangEn.lang", "LangTC.lang", "LangRS.lang",
                                        "LangHB.lang", "LangTK.lang", "LangCZ.lang"};
    if (languageIndex < 0 || languageIndex > 6)
        return "LangEn.lang";
    return names[languageIndex];
}
