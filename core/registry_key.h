// CRegistry: one open registry key and the outcome (error, type, size) of the
// last operation on it. Closed by the destructor.
#pragma once

#include "platform/geometry.h"
#include "platform/registry.h"

#include <functional>
#include <string>
#include <vector>

class CRegistry {
public:
    explicit CRegistry(HKEY root = HKEY_LOCAL_MACHINE);
    virtual ~CRegistry();
    CRegistry(const CRegistry&) = delete;
    CRegistry& operator=(const CRegistry&) = delete;

    bool OpenReadOnly(HKEY root, const char* subKey);
    bool Open(HKEY root, const char* subKey);
    bool Open(const char* subKey); // relative to the held key
    bool CreateKey(HKEY root, const char* subKey); // volatile, as the system makes it
    bool DeleteKey(HKEY root, const char* subKey);
    void Close();

    bool VerifyValue(const char* name);
    bool DeleteValue(const char* name);

    // Strings of up to 198 bytes plus the terminator; a longer value fails
    // with ERROR_MORE_DATA and leaves text unchanged.
    bool ReadString(const char* name, std::string& text);
    bool WriteString(const char* name, const char* text);
    bool ReadDword(const char* name, DWORD& value);
    bool WriteDword(const char* name, DWORD value);

    // Collections, serialised as the framework archive stores them: a count,
    // then the elements (strings with their length prefix). Read at most 4,096 bytes.
    bool WriteObject(const char* name, const std::vector<std::string>& strings);
    bool WriteObject(const char* name, const std::vector<BYTE>& bytes);
    bool WriteObject(const char* name, const std::vector<WORD>& words);
    bool WriteObject(const char* name, const std::vector<DWORD>& dwords);
    bool ReadObject(const char* name, std::vector<std::string>& strings);
    bool ReadObject(const char* name, std::vector<BYTE>& bytes);
    bool ReadObject(const char* name, std::vector<WORD>& words);
    bool ReadObject(const char* name, std::vector<DWORD>& dwords);

    bool WriteRect(const char* name, const CRect& rect);
    bool ReadRect(const char* name, CRect& rect);
    bool WritePoint(const char* name, const CPoint& point);
    bool ReadPoint(const char* name, CPoint& point);

    LONG GetLastError() const { return m_nLastError; }
    DWORD GetValueType() const { return m_dwType; }
    DWORD GetDataSize() const { return m_dwSize; }
    bool IsOpen() const { return m_bOpen; }
    const std::string& GetPath() const { return m_strPath; }

private:
    bool OpenKey(HKEY root, const char* subKey, REGSAM sam, HKEY& out);
    bool WriteBinary(const char* name, const std::vector<BYTE>& data, DWORD recordedType);
    bool ReadBinary(const char* name, std::vector<BYTE>& data);
    // ReadBinary, then load; data that does not load fails as invalid data (13).
    bool ReadLoaded(const char* name, const std::function<bool(const std::vector<BYTE>&)>& load);
    void Adopt(HKEY key); // closes the held key and holds key instead
    void Record(LONG error, DWORD type, DWORD size);

    LONG m_nLastError = 0;
    DWORD m_dwType = 0;
    DWORD m_dwSize = 0;
    HKEY m_hKey = nullptr;
    bool m_bOpen = false; // m_hKey is a key we opened (not the root given to the constructor)
    std::string m_strPath;
};
