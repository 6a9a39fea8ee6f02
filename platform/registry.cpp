// The registry store: an in-memory tree of keys behind Win32-style handles,
// saved whole and atomically to an XML file after every change.
#include "platform/registry.h"
#include "platform/xml_guard.h"

#include "platform/logsink.h"
#include "platform/paths.h"
#include "platform/regular_file.h"
#include "platform/text.h"

#include <tinyxml.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

namespace qelm {

namespace {

// Win32 allows 512 levels below a root; the file's XML nesting stays below
// kMaxXmlNesting with that, and anything deeper is not a hive of ours.
constexpr std::size_t kMaxKeyDepth = 512;
static_assert(kMaxKeyDepth + 3 < kMaxXmlNesting);

const char* const kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS"};
constexpr std::size_t kRootCount = sizeof kRootNames / sizeof kRootNames[0];
constexpr std::uintptr_t kRootBase = 0x80000000u;

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

template <class T>
T* FindByName(std::vector<T>& items, std::string_view name, std::size_t* index = nullptr)
{
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (EqualNoCase(items[i].name, name)) {
            if (index)
                *index = i;
            return &items[i];
        }
    }
    return nullptr;
}

// ---- file format -----------------------------------------------------------

// TinyXML writes "&#x" through unescaped and the parser drops control
// characters' meaning, so such text goes hex-encoded instead.
bool SafeAsText(std::string_view s)
{
    if (!IsValidUtf8(s) || s.find("&#x") != std::string_view::npos)
        return false;
    for (char c : s) {
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
    }
    return true;
}

std::string ToHex(const BYTE* p, std::size_t n)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(kDigits[p[i] >> 4]);
        out.push_back(kDigits[p[i] & 0xF]);
    }
    return out;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool FromHex(const std::string& hex, std::vector<BYTE>& out)
{
    if (hex.size() % 2 != 0)
        return false;
    out.clear();
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(static_cast<BYTE>((hi << 4) | lo));
    }
    return true;
}

bool ParseDword(const std::string& s, DWORD& out)
{
    if (s.empty() || s.size() > 10)
        return false;
    std::uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFu)
        return false;
    out = static_cast<DWORD>(v);
    return true;
}

void SetName(TiXmlElement* e, const std::string& name)
{
    if (SafeAsText(name))
        e->SetAttribute("name", name);
    else
        e->SetAttribute("namehex", ToHex(reinterpret_cast<const BYTE*>(name.data()), name.size()));
}

bool GetName(const TiXmlElement* e, std::string& name)
{
    if (const std::string* hex = e->Attribute(std::string("namehex"))) {
        std::vector<BYTE> bytes;
        if (!FromHex(*hex, bytes))
            return false;
        name.assign(bytes.begin(), bytes.end());
        return true;
    }
    if (const std::string* text = e->Attribute(std::string("name"))) {
        name = *text;
        return true;
    }
    return false;
}

void FormatKey(const RegistryKey& key, TiXmlElement* parent)
{
    if (key.isVolatile)
        return;
    auto* e = new TiXmlElement("Key");
    SetName(e, key.name);
    for (const RegistryValue& v : key.values) {
        auto* ve = new TiXmlElement("Value");
        SetName(ve, v.name);
        ve->SetAttribute("type", std::to_string(v.type));
        const std::size_t n = v.data.size();
        const bool isString = v.type == REG_SZ || v.type == REG_EXPAND_SZ;
        if (isString && n > 0 && v.data[n - 1] == 0 &&
            std::memchr(v.data.data(), 0, n - 1) == nullptr &&
            SafeAsText(std::string_view(reinterpret_cast<const char*>(v.data.data()), n - 1))) {
            ve->SetAttribute("text", std::string(reinterpret_cast<const char*>(v.data.data()), n - 1));
        } else if (v.type == REG_DWORD && n == 4) {
            DWORD d = static_cast<DWORD>(v.data[0]) | (static_cast<DWORD>(v.data[1]) << 8) |
                      (static_cast<DWORD>(v.data[2]) << 16) | (static_cast<DWORD>(v.data[3]) << 24);
            ve->SetAttribute("dword", std::to_string(d));
        } else {
            ve->SetAttribute("hex", ToHex(v.data.data(), n));
        }
        e->LinkEndChild(ve);
    }
    for (const RegistryKey& sub : key.subkeys)
        FormatKey(sub, e);
    parent->LinkEndChild(e);
}

bool ParseValue(const TiXmlElement* e, RegistryValue& v)
{
    const std::string* type = e->Attribute(std::string("type"));
    if (!GetName(e, v.name) || !type || !ParseDword(*type, v.type))
        return false;
    if (const std::string* hex = e->Attribute(std::string("hex")))
        return FromHex(*hex, v.data);
    if (const std::string* text = e->Attribute(std::string("text"))) {
        v.data.assign(text->begin(), text->end());
        v.data.push_back(0);
        return true;
    }
    if (const std::string* dword = e->Attribute(std::string("dword"))) {
        DWORD d;
        if (!ParseDword(*dword, d))
            return false;
        v.data = {static_cast<BYTE>(d), static_cast<BYTE>(d >> 8), static_cast<BYTE>(d >> 16), static_cast<BYTE>(d >> 24)};
        return true;
    }
    v.data.clear();
    return true;
}

bool ParseKey(const TiXmlElement* e, RegistryKey& key, std::size_t depth)
{
    if (!GetName(e, key.name))
        return false;
    for (const TiXmlElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement()) {
        const std::string& tag = c->ValueStr();
        if (tag == "Value") {
            RegistryValue v;
            if (ParseValue(c, v) && !FindByName(key.values, v.name))
                key.values.push_back(std::move(v));
        } else if (tag == "Key" && depth < kMaxKeyDepth) {
            RegistryKey sub;
            if (ParseKey(c, sub, depth + 1) && !FindByName(key.subkeys, sub.name))
                key.subkeys.push_back(std::move(sub));
        }
    }
    return true;
}

// ---- the store -------------------------------------------------------------

struct Handle {
    std::size_t root = 0;
    std::vector<std::string> path; // names as stored, below the root
    REGSAM sam = KEY_ALL_ACCESS;
};

struct Store {
    std::mutex mutex;
    bool loaded = false;
    std::string pathOverride;
    std::string path; // the file the hive in memory was read from and saves to
    std::vector<RegistryKey> roots;
    std::map<std::uintptr_t, Handle> handles;
    std::uintptr_t nextHandle = 0x1000;
};

// Never destroyed: handles may be closed from other static destructors.
Store& TheStore()
{
    static Store* store = new Store;
    return *store;
}

std::string HivePath(const Store& s)
{
    return s.pathOverride.empty() ? DataDir() + "Registry.xml" : s.pathOverride;
}

std::vector<RegistryKey> EmptyRoots()
{
    std::vector<RegistryKey> roots(kRootCount);
    for (std::size_t i = 0; i < kRootCount; ++i)
        roots[i].name = kRootNames[i];
    return roots;
}

void Load(Store& s)
{
    s.roots = EmptyRoots();
    s.loaded = true;
    s.path = HivePath(s);
    const std::string& path = s.path;
    std::string text, why;
    if (!ReadRegularFile(path, text, &why)) {
        if (errno != ENOENT)
            PlatformLog(3, "Registry: cannot read %s: %s", path.c_str(), why.c_str());
        return;
    }
    std::optional<std::vector<RegistryKey>> parsed = ParseRegistryHive(text);
    if (!parsed) {
        // Kept aside, so that the next save does not destroy what is left of it.
        std::string aside = path + ".bad";
        PlatformLog(3, "Registry: %s is not a hive; moved to %s", path.c_str(), aside.c_str());
        std::rename(path.c_str(), aside.c_str());
        return;
    }
    for (RegistryKey& key : *parsed) {
        if (RegistryKey* root = FindByName(s.roots, key.name)) {
            root->values = std::move(key.values);
            root->subkeys = std::move(key.subkeys);
        }
    }
}

bool WriteAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Temp file in the same folder, fsync, rename: a crash leaves the old or the
// new hive, never half of one.
bool WriteFileAtomic(const std::string& path, const std::string& data)
{
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    ::mkdir(dir.c_str(), 0755);
    // Named like the configuration files' copies, so the start-up cleanup
    // recognises one a killed save left.
    std::string tmp = path + ".tmp-XXXXXX";
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        errno = err;
        return false;
    }
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

bool Save(Store& s)
{
    const std::string& path = s.path;
    if (WriteFileAtomic(path, FormatRegistryHive(s.roots)))
        return true;
    PlatformLog(3, "Registry: cannot write %s: %s", path.c_str(), std::strerror(errno));
    return false;
}

Store& LockedStore(std::unique_lock<std::mutex>& lock)
{
    Store& s = TheStore();
    lock = std::unique_lock<std::mutex>(s.mutex);
    if (!s.loaded)
        Load(s);
    return s;
}

LONG Resolve(Store& s, HKEY key, Handle& out)
{
    auto v = reinterpret_cast<std::uintptr_t>(key);
    if (v >= kRootBase && v < kRootBase + kRootCount) {
        out = Handle{v - kRootBase, {}, KEY_ALL_ACCESS};
        return ERROR_SUCCESS;
    }
    auto it = s.handles.find(v);
    if (it == s.handles.end())
        return ERROR_INVALID_HANDLE;
    out = it->second;
    return ERROR_SUCCESS;
}

// The key a handle names, or nullptr when it was deleted. *persisted tells
// whether it is saved (no volatile key on the way).
RegistryKey* FindKey(Store& s, const Handle& h, bool* persisted = nullptr)
{
    RegistryKey* k = &s.roots[h.root];
    bool saved = true;
    for (const std::string& name : h.path) {
        k = FindByName(k->subkeys, name);
        if (!k)
            return nullptr;
        saved = saved && !k->isVolatile;
    }
    if (persisted)
        *persisted = saved;
    return k;
}

std::vector<std::string> SplitKeyPath(const char* subKey)
{
    std::vector<std::string> parts;
    if (!subKey)
        return parts;
    std::string part;
    for (const char* p = subKey;; ++p) {
        if (*p == '\\' || *p == '\0') {
            if (!part.empty())
                parts.push_back(std::move(part));
            part.clear();
            if (*p == '\0')
                break;
        } else {
            part.push_back(*p);
        }
    }
    return parts;
}

HKEY NewHandle(Store& s, Handle h)
{
    std::uintptr_t id = s.nextHandle;
    s.nextHandle += 4;
    s.handles.emplace(id, std::move(h));
    return reinterpret_cast<HKEY>(id);
}

// A handle's key, checked for existence and, when want is set, for access.
LONG OpenForUse(Store& s, HKEY key, REGSAM want, Handle& h, RegistryKey*& k, bool* persisted = nullptr)
{
    LONG r = Resolve(s, key, h);
    if (r != ERROR_SUCCESS)
        return r;
    if (want && (h.sam & want) != want)
        return ERROR_ACCESS_DENIED;
    k = FindKey(s, h, persisted);
    return k ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// The existing key subKey names below root; h gets its path.
LONG OpenSubKey(Store& s, HKEY root, const char* subKey, Handle& h, RegistryKey*& k)
{
    LONG r = OpenForUse(s, root, 0, h, k);
    if (r != ERROR_SUCCESS)
        return r;
    for (const std::string& part : SplitKeyPath(subKey)) {
        k = FindByName(k->subkeys, part);
        if (!k)
            return ERROR_FILE_NOT_FOUND;
        h.path.push_back(k->name);
    }
    return ERROR_SUCCESS;
}

} // namespace

std::optional<std::vector<RegistryKey>> ParseRegistryHive(const std::string& xml)
{
    // TinyXML reads a C string and trusts UTF-8 lead bytes; give it neither
    // embedded NULs nor malformed sequences.
    if (xml.find('\0') != std::string::npos || !IsValidUtf8(xml) || !XmlNestingWithin(xml))
        return std::nullopt;
    TiXmlDocument doc;
    doc.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
    if (doc.Error())
        return std::nullopt;
    const TiXmlElement* top = doc.RootElement();
    if (!top || top->ValueStr() != "Registry")
        return std::nullopt;
    std::vector<RegistryKey> roots;
    for (const TiXmlElement* e = top->FirstChildElement("Key"); e; e = e->NextSiblingElement("Key")) {
        RegistryKey key;
        if (ParseKey(e, key, 0) && !FindByName(roots, key.name))
            roots.push_back(std::move(key));
    }
    return roots;
}

std::string FormatRegistryHive(const std::vector<RegistryKey>& roots)
{
    TiXmlDocument doc;
    doc.LinkEndChild(new TiXmlDeclaration("1.0", "UTF-8", ""));
    auto* top = new TiXmlElement("Registry");
    for (const RegistryKey& root : roots)
        FormatKey(root, top);
    doc.LinkEndChild(top);
    TiXmlPrinter printer;
    printer.SetIndent("  ");
    doc.Accept(&printer);
    return printer.Str();
}

std::string RegistryHivePath()
{
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    return HivePath(s);
}

void SetRegistryHivePath(const std::string& path)
{
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.pathOverride = path;
    s.loaded = false;
}

void ReloadRegistryHive()
{
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    Load(s);
}

} // namespace qelm

using namespace qelm;

LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD /*options*/, REGSAM sam, HKEY* out)
{
    if (!out)
        return ERROR_INVALID_PARAMETER;
    *out = nullptr;
    std::unique_lock<std::mutex> lock;
    Store& s = LockedStore(lock);
    Handle h;
    RegistryKey* k;
    LONG r = OpenSubKey(s, root, subKey, h, k);
    if (r != ERROR_SUCCESS)
        return r;
    h.sam = sam;
    *out = NewHandle(s, std::move(h));
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY root, const char* subKey, DWORD /*reserved*/, char* /*keyClass*/, DWORD options,
                     REGSAM sam, void* /*security*/, HKEY* out, DWORD* disposition)
{
    if (!out)
        return ERROR_INVALID_PARAMETER;
    *out = nullptr;
    std::unique_lock<std::mutex> lock;
    Store& s = LockedStore(lock);
    Handle h;
    RegistryKey* k;
    bool persisted = true;
    LONG r = OpenForUse(s, root, 0, h, k, &persisted);
    if (r != ERROR_SUCCESS)
        return r;
    std::vector<std::string> parts = SplitKeyPath(subKey);
    if (h.path.size() + parts.size() > kMaxKeyDepth)
        return ERROR_INVALID_PARAMETER;

    RegistryKey* createdUnder = nullptr; // parent of the first key made here
    for (const std::string& part : parts) {
        RegistryKey* child = FindByName(k->subkeys, part);
        if (!child) {
            if (!createdUnder)
                createdUnder = k;
            RegistryKey fresh;
            fresh.name = part;
            fresh.isVolatile = (options & REG_OPTION_VOLATILE) != 0;
            k->subkeys.push_back(std::move(fresh));
            child = &k->subkeys.back();
        }
        persisted = persisted && !child->isVolatile;
        k = child;
        h.path.push_back(k->name);
    }
    if (createdUnder && persisted && !Save(s)) {
        createdUnder->subkeys.pop_back();
        return ERROR_ACCESS_DENIED;
    }
    if (disposition)
        *disposition = createdUnder ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    h.sam = sam;
    *out = NewHandle(s, std::move(h));
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD* /*reserved*/, DWORD* type, BYTE* data, DWORD* size)
{
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    std::unique_lock<std::mutex> lock;
    Store& s = LockedStore(lock);
    Handle h;
    RegistryKey* k;
    LONG r = OpenForUse(s, key, 0, h, k);
    if (r != ERROR_SUCCESS)
        return r;
    const RegistryValue* v = FindByName(k->values, name ? name : "");
    if (!v)
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = v->type;
    const DWORD needed = static_cast<DWORD>(v->data.size());
    if (!data) {
        if (size)
            *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed)
        std::memcpy(data, v->data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD /*reserved*/, DWORD type, const BYTE* data, DWORD size)
{
    if (!data && size > 0)
        return ERROR_INVALID_PARAMETER;
    std::unique_lock<std::mutex> lock;
    Store& s = LockedStore(lock);
    Handle h;
    RegistryKey* k;
    bool persisted = true;
    LONG r = OpenForUse(s, key, KEY_SET_VALUE, h, k, &persisted);
    if (r != ERROR_SUCCESS)
        return r;
    RegistryValue fresh;
    fresh.name = name ? name : "";
    fresh.type = type;
    if (size)
        fresh.data.assign(data, data + size);

    std::size_t index = 0;
    RegistryValue* existing = FindByName(k->values, fresh.name, &index);
    std::optional<RegistryValue> old;
    if (existing) {
        old = *existing;
        existing->type = fresh.type; // the name keeps the case it was made with
        existing->data = std::move(fresh.data);
    } else {
        k->values.push_back(std::move(fresh));
    }
    if (persisted && !Save(s)) {
        if (old)
            k->values[index] = std::move(*old);
        else
            k->values.pop_back();
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY key, const char* name)
{
    std::unique_lock<std::mutex> lock;
    Store& s = LockedStore(lock);
    Handle h;
    RegistryKey* k;
    bool persisted = true;
    LONG r = OpenForUse(s, key, KEY_SET_VALUE, h, k, &persisted);
    if (r != ERROR_SUCCESS)
        return r;
    std::size_t index = 0;
    if (!FindByName(k->values, name ? name : "", &index))
        return ERROR_FILE_NOT_FOUND;
    RegistryValue removed = std::move(k->values[index]);
    k->values.erase(k->values.begin() + static_cast<std::ptrdiff_t>(index));
    if (persisted && !Save(s)) {
        k->values.insert(k->values.begin() + static_cast<std::ptrdiff_t>(index), std::move(removed));
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

LONG RegDeleteKeyA(HKEY root, const char* subKey)
{
    if (!subKey)
        return ERROR_INVALID_PARAMETER;
    std::unique_lock<std::mutex> lock;
    Store& s = LockedStore(lock);
    Handle h;
    RegistryKey* k;
    LONG r = OpenSubKey(s, root, subKey, h, k);
    if (r != ERROR_SUCCESS)
        return r;
    if (h.path.empty())
        return ERROR_ACCESS_DENIED; // a root key
    if (!k->subkeys.empty())
        return ERROR_ACCESS_DENIED;

    const std::string name = h.path.back();
    h.path.pop_back();
    bool persisted = true;
    RegistryKey* parent = FindKey(s, h, &persisted);
    std::size_t index = 0;
    FindByName(parent->subkeys, name, &index);
    persisted = persisted && !parent->subkeys[index].isVolatile;
    RegistryKey removed = std::move(parent->subkeys[index]);
    parent->subkeys.erase(parent->subkeys.begin() + static_cast<std::ptrdiff_t>(index));
    if (persisted && !Save(s)) {
        parent->subkeys.insert(parent->subkeys.begin() + static_cast<std::ptrdiff_t>(index), std::move(removed));
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key)
{
    auto v = reinterpret_cast<std::uintptr_t>(key);
    if (v >= kRootBase && v < kRootBase + kRootCount)
        return ERROR_SUCCESS;
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.handles.erase(v) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
