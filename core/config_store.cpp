// Configuration files: folder, GB18030 XML load, atomic save, damaged files
// kept aside (see config_store.h).
#include "core/config_store.h"

#include "core/helpers.h"
#include "core/log.h"
#include "platform/clock.h"
#include "platform/regular_file.h"
#include "platform/text.h"
#include "platform/xml_guard.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <tinyxml.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

std::mutex g_dirMutex;
std::string g_configDir; // "" = the program folder's Config/

// Whole file, or false when it cannot be read. Only a regular file is read:
// a pipe, device or folder in the file's place is refused with a log line.
bool ReadFile(const std::string& path, std::string& out, bool& missing)
{
    std::string why;
    if (qelm::ReadRegularFile(path, out, &why)) {
        missing = false;
        return true;
    }
    missing = errno == ENOENT;
    if (!missing)
        WriteLog(3, "Config: %s not read: %s", path.c_str(), why.c_str());
    return false;
}

bool WriteAll(int fd, const char* p, std::size_t n)
{
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

std::string FolderOf(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// "DevInfo.xml" -> "DevInfo.damaged-20240312-101500.xml" (a counter added when taken).
std::string DamagedName(const std::string& path)
{
    std::tm t = qelm::LocalNow();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    std::string stem = path, ext;
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        stem = path.substr(0, dot);
        ext = path.substr(dot);
    }
    for (int i = 0; i < 1000; ++i) {
        std::string name = stem + ".damaged-" + stamp + (i ? "-" + std::to_string(i) : std::string()) + ext;
        struct stat st;
        if (::lstat(name.c_str(), &st) != 0)
            return name;
    }
    return {};
}

} // namespace

std::string ConfigDir()
{
    {
        std::lock_guard<std::mutex> lock(g_dirMutex);
        if (!g_configDir.empty())
            return g_configDir;
    }
    return GetAppDir() + "Config/";
}

void SetConfigDir(const std::string& dir)
{
    std::lock_guard<std::mutex> lock(g_dirMutex);
    g_configDir = dir;
    if (!g_configDir.empty() && g_configDir.back() != '/')
        g_configDir.push_back('/');
}

std::string ConfigFilePath(const char* name)
{
    return ConfigDir() + (name ? name : "");
}

namespace qelm::cfg {

LoadResult LoadXmlFile(const std::string& path, TiXmlDocument& doc)
{
    std::string data;
    bool missing = false;
    if (!ReadFile(path, data, missing))
        return missing ? LoadResult::Missing : LoadResult::Damaged;
    // As TinyXML's own file loader: line ends become "\n". The parser stops at
    // a NUL byte, which no well-formed file holds.
    if (data.find('\0') != std::string::npos)
        return LoadResult::Damaged;
    // Editors and other systems mark UTF-8 files so; the document holds
    // GB18030 like every other file (bytes that are not UTF-8 become '?').
    const bool utf8 = data.compare(0, 3, "\xEF\xBB\xBF") == 0;
    if (utf8)
        data = ToFileText(std::string_view(data).substr(3));
    std::string text;
    text.reserve(data.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '\r') {
            text.push_back('\n');
            if (i + 1 < data.size() && data[i + 1] == '\n')
                ++i;
        } else {
            text.push_back(data[i]);
        }
    }
    doc.Clear();
    doc.ClearError();
    // The parser recurses once per level: a hostile file must not take it off the stack.
    if (!qelm::XmlNestingWithin(text))
        return LoadResult::Damaged;
    // Legacy encoding: every byte is passed through as it is, whatever the
    // declaration says, so GB18030 texts survive unchanged.
    doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_LEGACY);
    if (doc.Error())
        return LoadResult::Damaged;
    if (utf8) {
        // A save writes these bytes back: the declaration must name them.
        for (TiXmlNode* node = doc.FirstChild(); node; node = node->NextSibling()) {
            if (const TiXmlDeclaration* decl = node->ToDeclaration()) {
                doc.ReplaceChild(node, TiXmlDeclaration(decl->Version(), "gb2312", decl->Standalone()));
                break;
            }
        }
    }
    return LoadResult::Ok;
}

bool WriteFileAtomic(const std::string& path, std::string_view data)
{
    std::string tmp = path + ".tmp-XXXXXX";
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    ::fchmod(fd, mode);
    bool ok = WriteAll(fd, data.data(), data.size()) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok)
        ok = ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    int dirFd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

namespace {

// "<name>.tmp-" and six letters or digits, as mkostemp fills them in.
bool IsTempCopyOf(const std::string& file, const char* name)
{
    const std::string prefix = std::string(name) + ".tmp-";
    if (file.size() != prefix.size() + 6 || file.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (std::size_t i = prefix.size(); i < file.size(); ++i) {
        if (!std::isalnum(static_cast<unsigned char>(file[i])))
            return false;
    }
    return true;
}

} // namespace

int RemoveStaleTempFiles(const std::string& dir, std::initializer_list<const char*> names)
{
    std::string folder = dir;
    if (!folder.empty() && folder.back() != '/')
        folder.push_back('/');
    DIR* d = ::opendir(folder.c_str());
    if (!d)
        return 0;
    std::vector<std::string> stale;
    while (const dirent* e = ::readdir(d)) {
        const std::string file = e->d_name;
        for (const char* name : names) {
            if (IsTempCopyOf(file, name)) {
                stale.push_back(file);
                break;
            }
        }
    }
    ::closedir(d);
    int removed = 0;
    for (const std::string& file : stale) {
        const std::string path = folder + file;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue; // a save only ever leaves a regular file
        if (::unlink(path.c_str()) == 0) {
            ++removed;
            WriteLog(3, "Config: %s, left by an interrupted save, removed.", path.c_str());
        }
    }
    return removed;
}

std::string RefusedRecords(const std::string& path, const char* tag, std::size_t total, std::size_t limit)
{
    return "Config: " + path + ": " + std::to_string(total) + " " + tag + " records, the first " +
           std::to_string(limit) + " loaded, the rest refused.";
}

std::size_t CountElements(const TiXmlElement* e, const char* tag)
{
    std::size_t n = 0;
    for (; e; e = e->NextSiblingElement(tag))
        n += std::strcmp(e->Value(), tag) == 0 ? 1 : 0;
    return n;
}

namespace {

// A plain token ("1.0", "gb2312", "yes"); anything else in a declaration is
// noise that TinyXML would print unescaped.
bool IsPlainToken(const std::string& v)
{
    if (v.empty() || v.size() > 32)
        return false;
    for (unsigned char c : v)
        if (!std::isalnum(c) && c != '.' && c != '-' && c != '_')
            return false;
    return true;
}

// The declaration as a saved file carries it: values that are not plain
// tokens are replaced or dropped, so a second save writes the same bytes.
void PrintDeclaration(FILE* out, const TiXmlDeclaration& decl)
{
    const std::string version = decl.Version();
    const std::string encoding = decl.Encoding();
    const std::string standalone = decl.Standalone();
    std::fprintf(out, "<?xml version=\"%s\"", IsPlainToken(version) ? version.c_str() : "1.0");
    if (IsPlainToken(encoding))
        std::fprintf(out, " encoding=\"%s\"", encoding.c_str());
    if (standalone == "yes" || standalone == "no")
        std::fprintf(out, " standalone=\"%s\"", standalone.c_str());
    std::fputs(" ?>", out);
}

} // namespace

bool SaveXmlFile(const std::string& path, const TiXmlDocument& doc)
{
    char* buf = nullptr;
    std::size_t len = 0;
    FILE* mem = ::open_memstream(&buf, &len);
    if (!mem)
        return false;
    for (const TiXmlNode* node = doc.FirstChild(); node; node = node->NextSibling()) {
        if (const TiXmlDeclaration* decl = node->ToDeclaration())
            PrintDeclaration(mem, *decl);
        else
            node->Print(mem, 0);
        std::fputc('\n', mem);
    }
    bool ok = std::fflush(mem) == 0 && !std::ferror(mem);
    std::fclose(mem);
    if (ok)
        ok = WriteFileAtomic(path, std::string_view(buf, len));
    std::free(buf);
    return ok;
}

bool ReplaceWithTemplate(const std::string& path, LoadResult why, std::string_view tmpl, std::string* keptAs)
{
    if (keptAs)
        keptAs->clear();
    struct stat st;
    if (why != LoadResult::Missing && ::lstat(path.c_str(), &st) == 0) {
        std::string aside = DamagedName(path);
        if (aside.empty() || ::rename(path.c_str(), aside.c_str()) != 0)
            return false;
        if (keptAs)
            *keptAs = aside;
    }
    return WriteFileAtomic(path, tmpl);
}

std::string Text(const TiXmlElement* elem)
{
    if (!elem)
        return {};
    const char* text = elem->GetText();
    if (!text || !*text)
        return {};
    return ReadGbField(text, std::strlen(text));
}

std::string Attr(const TiXmlElement* elem, const char* name, bool* present)
{
    const char* value = elem ? elem->Attribute(name) : nullptr;
    if (present)
        *present = value != nullptr;
    if (!value || !*value)
        return {};
    return ReadGbField(value, std::strlen(value));
}

std::string ToFileText(std::string_view utf8)
{
    if (utf8.empty())
        return {};
    if (IsValidUtf8(utf8) && utf8.find('\0') == std::string_view::npos) {
        if (auto gb = Utf8ToGb18030(utf8))
            return *gb;
    }
    // A GB18030 character never takes more than twice the bytes of its UTF-8 form.
    std::vector<char> field(utf8.size() * 2 + 1);
    std::size_t n = CopyToGbField(field.data(), field.size(), utf8);
    return std::string(field.data(), n);
}

void CopyField(char* dst, std::size_t size, std::string_view utf8, const char* what)
{
    std::size_t end = utf8.find('\0');
    if (end != std::string_view::npos)
        utf8 = utf8.substr(0, end);
    std::size_t n = CopyBounded(dst, size, utf8);
    if (n < utf8.size())
        WriteLog(3, "Config: text of %s longer than %zu bytes, cut to %zu.", what ? what : "?", size - 1, n);
}

int ParseDecimal(const char* text)
{
    if (!text)
        return 0;
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value <= static_cast<long long>(INT_MAX) + 1)
            value = value * 10 + (*p - '0');
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

int ParseDecimal(const std::string& text)
{
    return ParseDecimal(text.c_str());
}

TiXmlElement* AppendElement(TiXmlElement* parent, const char* name)
{
    auto* elem = new TiXmlElement(name);
    parent->LinkEndChild(elem);
    return elem;
}

TiXmlElement* AppendText(TiXmlElement* parent, const char* name, std::string_view utf8)
{
    TiXmlElement* elem = AppendElement(parent, name);
    elem->LinkEndChild(new TiXmlText(ToFileText(utf8)));
    return elem;
}

TiXmlElement* AppendInt(TiXmlElement* parent, const char* name, int value)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", value);
    return AppendText(parent, name, buf);
}

void SetAttr(TiXmlElement* elem, const char* name, std::string_view utf8)
{
    elem->SetAttribute(name, ToFileText(utf8));
}

void SetAttr(TiXmlElement* elem, const char* name, int value)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", value);
    elem->SetAttribute(name, buf);
}

void ClearChildren(TiXmlElement* elem)
{
    if (elem)
        elem->Clear();
}

} // namespace qelm::cfg

namespace qelm::cfg {

bool LoadOrWriteTemplate(const std::string& path, TiXmlDocument& doc, std::string_view tmpl)
{
    const LoadResult r = LoadXmlFile(path, doc);
    if (r == LoadResult::Ok)
        return true;
    std::string keptAs;
    const bool written = ReplaceWithTemplate(path, r, tmpl, &keptAs);
    if (!keptAs.empty())
        WriteLog(3, "AppInit: %s could not be read, kept as %s; a new one is written.", path.c_str(), keptAs.c_str());
    if (!written)
        WriteLog(3, "AppInit: %s could not be replaced.", path.c_str());
    return false;
}

bool LoadForSave(const std::string& path, TiXmlDocument& doc)
{
    if (LoadXmlFile(path, doc) == LoadResult::Ok)
        return true;
    WriteLog(-2, "Failed to load file, %s", path.c_str());
    return false;
}

const TiXmlElement* LoadRoot(const std::string& path, TiXmlDocument& doc, std::string_view tmpl)
{
    return LoadOrWriteTemplate(path, doc, tmpl) ? doc.RootElement() : nullptr;
}

void SaveWithRoot(const std::string& path, const char* who, const std::function<void(TiXmlElement* root)>& fill)
{
    TiXmlDocument doc;
    if (!LoadForSave(path, doc))
        return;
    TiXmlElement* root = doc.RootElement();
    if (!root)
        return;
    fill(root);
    if (!SaveXmlFile(path, doc))
        WriteLog(3, "%s: cannot write %s.", who, path.c_str());
}

} // namespace qelm::cfg
