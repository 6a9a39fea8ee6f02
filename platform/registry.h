// The Win32 registry calls, on a hive kept in one XML file (Registry.xml in
// the data folder), so that values persist across runs.
#pragma once

#include "platform/types.h"

#include <optional>
#include <string>
#include <vector>

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

// The predefined root keys. Macros, as elsewhere: a pointer made from an
// integer cannot be a constant expression.
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000003u)))

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_OPTION_VOLATILE = 1;

constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// An open handle whose key was deleted meanwhile.
constexpr LONG ERROR_KEY_DELETED = 1018;

LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM sam, HKEY* out);
LONG RegCreateKeyExA(HKEY root, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                     REGSAM sam, void* security, HKEY* out, DWORD* disposition);
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LONG RegDeleteValueA(HKEY key, const char* name);
LONG RegDeleteKeyA(HKEY root, const char* subKey);
LONG RegCloseKey(HKEY key);

namespace qelm {

struct RegistryValue {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const RegistryValue&) const = default;
};

struct RegistryKey {
    std::string name;
    std::vector<RegistryValue> values;
    std::vector<RegistryKey> subkeys;
    bool isVolatile = false; // lives in memory only, with its subtree
    bool operator==(const RegistryKey&) const = default;
};

// Reads a hive file's text: the top-level keys (HKEY_LOCAL_MACHINE, ...), or
// nullopt when the text is not a hive. Malformed entries are skipped, and a
// name that repeats (ignoring case) keeps its first entry.
std::optional<std::vector<RegistryKey>> ParseRegistryHive(const std::string& xml);

// The text ParseRegistryHive reads; volatile keys are left out.
std::string FormatRegistryHive(const std::vector<RegistryKey>& roots);

// The hive file the store reads and writes.
std::string RegistryHivePath();

// Points the store at another hive file (empty: back to DataDir()/Registry.xml);
// it is read on next use. Open handles stay valid.
void SetRegistryHivePath(const std::string& path);

// Drops the in-memory hive and reads the file again, as a restart would.
void ReloadRegistryHive();

} // namespace qelm
