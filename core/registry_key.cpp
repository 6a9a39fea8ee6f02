// CRegistry on the platform's file-backed hive (see registry_key.h).
#include "core/registry_key.h"

#include <cstring>

namespace {

constexpr LONG kErrorInvalidData = 13;    // a stored object that does not load
constexpr DWORD kStringBuffer = 200;      // bytes, terminator included
constexpr DWORD kObjectBuffer = 4096;
constexpr DWORD kTypeRect = 1;            // what the writers record for rectangles
constexpr DWORD kTypePoint = 2;           // ... and for points

bool IsRoot(HKEY key)
{
    auto v = reinterpret_cast<std::uintptr_t>(key);
    return v >= 0x80000000u && v <= 0x80000003u;
}

// The archive: little-endian counts and elements, strings with a length prefix.
class ArchiveOut {
public:
    void Count(std::size_t n)
    {
        if (n < 0xFFFF) {
            Word(static_cast<WORD>(n));
        } else {
            Word(0xFFFF);
            Dword(static_cast<DWORD>(n));
        }
    }
    void Byte(BYTE b) { m_data.push_back(b); }
    void Word(WORD w)
    {
        Byte(static_cast<BYTE>(w));
        Byte(static_cast<BYTE>(w >> 8));
    }
    void Dword(DWORD d)
    {
        Word(static_cast<WORD>(d));
        Word(static_cast<WORD>(d >> 16));
    }
    void String(const std::string& s)
    {
        std::size_t n = s.size();
        if (n < 0xFF) {
            Byte(static_cast<BYTE>(n));
        } else if (n < 0xFFFE) {
            Byte(0xFF);
            Word(static_cast<WORD>(n));
        } else {
            Byte(0xFF);
            Word(0xFFFF);
            Dword(static_cast<DWORD>(n));
        }
        m_data.insert(m_data.end(), s.begin(), s.end());
    }
    const std::vector<BYTE>& Data() const { return m_data; }

private:
    std::vector<BYTE> m_data;
};

class ArchiveIn {
public:
    explicit ArchiveIn(const std::vector<BYTE>& data) : m_data(data) {}
    bool Byte(BYTE& b)
    {
        if (m_pos >= m_data.size())
            return false;
        b = m_data[m_pos++];
        return true;
    }
    bool Word(WORD& w)
    {
        BYTE lo, hi;
        if (!Byte(lo) || !Byte(hi))
            return false;
        w = static_cast<WORD>(lo | (hi << 8));
        return true;
    }
    bool Dword(DWORD& d)
    {
        WORD lo, hi;
        if (!Word(lo) || !Word(hi))
            return false;
        d = static_cast<DWORD>(lo) | (static_cast<DWORD>(hi) << 16);
        return true;
    }
    bool Count(std::size_t& n)
    {
        WORD w;
        if (!Word(w))
            return false;
        if (w != 0xFFFF) {
            n = w;
            return true;
        }
        DWORD d;
        if (!Dword(d))
            return false;
        n = d;
        return true;
    }
    bool String(std::string& s)
    {
        BYTE b;
        if (!Byte(b))
            return false;
        std::size_t n = b;
        if (b == 0xFF) {
            WORD w;
            if (!Word(w))
                return false;
            n = w;
            if (w == 0xFFFF) {
                DWORD d;
                if (!Dword(d))
                    return false;
                n = d;
            }
        }
        if (n > Left())
            return false;
        s.assign(reinterpret_cast<const char*>(m_data.data() + m_pos), n);
        m_pos += n;
        return true;
    }
    std::size_t Left() const { return m_data.size() - m_pos; }

private:
    const std::vector<BYTE>& m_data;
    std::size_t m_pos = 0;
};

template <class T, class Put>
std::vector<BYTE> SaveArray(const std::vector<T>& items, Put put)
{
    ArchiveOut ar;
    ar.Count(items.size());
    for (const T& item : items)
        put(ar, item);
    return ar.Data();
}

// Loads count-prefixed elements of at least minElemSize bytes each; a count
// larger than the data can hold is refused before anything is allocated.
template <class T, class Get>
bool LoadArray(const std::vector<BYTE>& data, std::size_t minElemSize, std::vector<T>& out, Get get)
{
    ArchiveIn ar(data);
    std::size_t n = 0;
    if (!ar.Count(n) || n > ar.Left() / minElemSize)
        return false;
    std::vector<T> items;
    items.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        T item{};
        if (!get(ar, item))
            return false;
        items.push_back(std::move(item));
    }
    out.swap(items);
    return true;
}

std::vector<BYTE> SaveDwords(const std::vector<DWORD>& v)
{
    return SaveArray(v, [](ArchiveOut& ar, DWORD d) { ar.Dword(d); });
}

bool LoadDwords(const std::vector<BYTE>& data, std::vector<DWORD>& out)
{
    return LoadArray(data, 4, out, [](ArchiveIn& ar, DWORD& d) { return ar.Dword(d); });
}

} // namespace

CRegistry::CRegistry(HKEY root) : m_hKey(root) {}

CRegistry::~CRegistry()
{
    Close();
}

void CRegistry::Record(LONG error, DWORD type, DWORD size)
{
    m_nLastError = error;
    m_dwType = type;
    m_dwSize = size;
}

bool CRegistry::OpenKey(HKEY root, const char* subKey, REGSAM sam, HKEY& out)
{
    out = nullptr;
    LONG r = RegOpenKeyExA(root, subKey ? subKey : "", 0, sam, &out);
    if (r != ERROR_SUCCESS) {
        Record(r, 0, 0);
        return false;
    }
    return true;
}

void CRegistry::Adopt(HKEY key)
{
    Close();
    m_hKey = key;
    m_bOpen = true;
}

bool CRegistry::OpenReadOnly(HKEY root, const char* subKey)
{
    m_strPath = subKey ? subKey : "";
    HKEY key;
    if (!OpenKey(root, subKey, KEY_READ, key))
        return false;
    Adopt(key);
    Record(ERROR_SUCCESS, 0, 0);
    return true;
}

bool CRegistry::Open(HKEY root, const char* subKey)
{
    HKEY key;
    if (!OpenKey(root, subKey, KEY_ALL_ACCESS, key))
        return false;
    Adopt(key); // the outcome of an earlier call stays recorded
    return true;
}

bool CRegistry::Open(const char* subKey)
{
    HKEY key;
    if (!OpenKey(m_hKey, subKey, KEY_ALL_ACCESS, key))
        return false;
    Adopt(key);
    Record(ERROR_SUCCESS, 0, 0);
    return true;
}

bool CRegistry::CreateKey(HKEY root, const char* subKey)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG r = RegCreateKeyExA(root, subKey ? subKey : "", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                             nullptr, &key, &disposition);
    Record(r, 0, 0);
    if (r != ERROR_SUCCESS)
        return false;
    Adopt(key);
    return true;
}

bool CRegistry::DeleteKey(HKEY root, const char* subKey)
{
    LONG r = RegDeleteKeyA(root, subKey ? subKey : "");
    Record(r, 0, 0);
    return r == ERROR_SUCCESS;
}

void CRegistry::Close()
{
    if (m_bOpen && m_hKey && !IsRoot(m_hKey))
        RegCloseKey(m_hKey);
    if (m_bOpen)
        m_hKey = nullptr;
    m_bOpen = false;
}

bool CRegistry::VerifyValue(const char* name)
{
    DWORD type = 0, size = 0;
    LONG r = RegQueryValueExA(m_hKey, name, nullptr, &type, nullptr, &size);
    Record(r, r == ERROR_SUCCESS ? type : 0, r == ERROR_SUCCESS ? size : 0);
    return r == ERROR_SUCCESS;
}

bool CRegistry::DeleteValue(const char* name)
{
    LONG r = RegDeleteValueA(m_hKey, name);
    Record(r, 0, 0);
    return r == ERROR_SUCCESS;
}

bool CRegistry::ReadString(const char* name, std::string& text)
{
    // One byte of the buffer stays for a terminator the stored value may lack.
    BYTE buf[kStringBuffer] = {};
    DWORD type = 0;
    DWORD size = kStringBuffer - 1;
    LONG r = RegQueryValueExA(m_hKey, name, nullptr, &type, buf, &size);
    Record(r, type, size);
    if (r != ERROR_SUCCESS)
        return false;
    buf[size < kStringBuffer ? size : kStringBuffer - 1] = 0;
    text.assign(reinterpret_cast<const char*>(buf), strnlen(reinterpret_cast<const char*>(buf), size));
    return true;
}

bool CRegistry::WriteString(const char* name, const char* text)
{
    const char* s = text ? text : "";
    DWORD size = static_cast<DWORD>(std::strlen(s) + 1);
    LONG r = RegSetValueExA(m_hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(s), size);
    Record(r, REG_SZ, size);
    return r == ERROR_SUCCESS;
}

bool CRegistry::ReadDword(const char* name, DWORD& value)
{
    BYTE buf[4] = {};
    DWORD type = 0;
    DWORD size = sizeof buf;
    LONG r = RegQueryValueExA(m_hKey, name, nullptr, &type, buf, &size);
    Record(r, type, size);
    if (r != ERROR_SUCCESS)
        return false;
    if (size != 4) { // shorter data is not a number
        m_nLastError = kErrorInvalidData;
        return false;
    }
    value = static_cast<DWORD>(buf[0]) | (static_cast<DWORD>(buf[1]) << 8) | (static_cast<DWORD>(buf[2]) << 16) |
            (static_cast<DWORD>(buf[3]) << 24);
    return true;
}

bool CRegistry::WriteDword(const char* name, DWORD value)
{
    BYTE buf[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
                   static_cast<BYTE>(value >> 24)};
    LONG r = RegSetValueExA(m_hKey, name, 0, REG_DWORD, buf, sizeof buf);
    Record(r, REG_DWORD, sizeof buf);
    return r == ERROR_SUCCESS;
}

bool CRegistry::WriteBinary(const char* name, const std::vector<BYTE>& data, DWORD recordedType)
{
    DWORD size = static_cast<DWORD>(data.size());
    LONG r = RegSetValueExA(m_hKey, name, 0, REG_BINARY, data.data(), size);
    Record(r, recordedType, size);
    return r == ERROR_SUCCESS;
}

bool CRegistry::ReadBinary(const char* name, std::vector<BYTE>& data)
{
    std::vector<BYTE> buf(kObjectBuffer);
    DWORD type = 0;
    DWORD size = kObjectBuffer;
    LONG r = RegQueryValueExA(m_hKey, name, nullptr, &type, buf.data(), &size);
    Record(r, type, size);
    if (r != ERROR_SUCCESS)
        return false;
    if (type != REG_BINARY) {
        m_nLastError = kErrorInvalidData;
        return false;
    }
    buf.resize(size);
    data.swap(buf);
    return true;
}

bool CRegistry::WriteObject(const char* name, const std::vector<std::string>& strings)
{
    return WriteBinary(name, SaveArray(strings, [](ArchiveOut& ar, const std::string& s) { ar.String(s); }),
                       REG_BINARY);
}

bool CRegistry::WriteObject(const char* name, const std::vector<BYTE>& bytes)
{
    return WriteBinary(name, SaveArray(bytes, [](ArchiveOut& ar, BYTE b) { ar.Byte(b); }), REG_BINARY);
}

bool CRegistry::WriteObject(const char* name, const std::vector<WORD>& words)
{
    return WriteBinary(name, SaveArray(words, [](ArchiveOut& ar, WORD w) { ar.Word(w); }), REG_BINARY);
}

bool CRegistry::WriteObject(const char* name, const std::vector<DWORD>& dwords)
{
    return WriteBinary(name, SaveDwords(dwords), REG_BINARY);
}

bool CRegistry::ReadLoaded(const char* name, const std::function<bool(const std::vector<BYTE>&)>& load)
{
    std::vector<BYTE> data;
    if (!ReadBinary(name, data))
        return false;
    if (load(data))
        return true;
    m_nLastError = kErrorInvalidData;
    return false;
}

bool CRegistry::ReadObject(const char* name, std::vector<std::string>& strings)
{
    return ReadLoaded(name, [&](const std::vector<BYTE>& data) {
        return LoadArray(data, 1, strings, [](ArchiveIn& ar, std::string& s) { return ar.String(s); });
    });
}

bool CRegistry::ReadObject(const char* name, std::vector<BYTE>& bytes)
{
    return ReadLoaded(name, [&](const std::vector<BYTE>& data) {
        return LoadArray(data, 1, bytes, [](ArchiveIn& ar, BYTE& b) { return ar.Byte(b); });
    });
}

bool CRegistry::ReadObject(const char* name, std::vector<WORD>& words)
{
    return ReadLoaded(name, [&](const std::vector<BYTE>& data) {
        return LoadArray(data, 2, words, [](ArchiveIn& ar, WORD& w) { return ar.Word(w); });
    });
}

bool CRegistry::ReadObject(const char* name, std::vector<DWORD>& dwords)
{
    return ReadLoaded(name, [&](const std::vector<BYTE>& data) { return LoadDwords(data, dwords); });
}

bool CRegistry::WriteRect(const char* name, const CRect& rect)
{
    std::vector<DWORD> v = {static_cast<DWORD>(rect.top), static_cast<DWORD>(rect.bottom),
                            static_cast<DWORD>(rect.left), static_cast<DWORD>(rect.right), 0};
    return WriteBinary(name, SaveDwords(v), kTypeRect);
}

bool CRegistry::ReadRect(const char* name, CRect& rect)
{
    std::vector<DWORD> v;
    if (!ReadLoaded(name, [&](const std::vector<BYTE>& data) { return LoadDwords(data, v) && v.size() >= 4; }))
        return false;
    rect.top = static_cast<LONG>(v[0]);
    rect.bottom = static_cast<LONG>(v[1]);
    rect.left = static_cast<LONG>(v[2]);
    rect.right = static_cast<LONG>(v[3]);
    return true;
}

bool CRegistry::WritePoint(const char* name, const CPoint& point)
{
    std::vector<DWORD> v = {static_cast<DWORD>(point.x), static_cast<DWORD>(point.y), 0, 0, 0};
    return WriteBinary(name, SaveDwords(v), kTypePoint);
}

bool CRegistry::ReadPoint(const char* name, CPoint& point)
{
    std::vector<DWORD> v;
    if (!ReadLoaded(name, [&](const std::vector<BYTE>& data) { return LoadDwords(data, v) && v.size() >= 2; }))
        return false;
    point.x = static_cast<LONG>(v[0]);
    point.y = static_cast<LONG>(v[1]);
    return true;
}
