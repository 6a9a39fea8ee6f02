// Shared core helpers (see helpers.h).
#include "core/helpers.h"

#include "core/probes.h"
#include "core/registry_key.h"
#include "platform/paths.h"
#include "platform/wnd.h"

#include <dirent.h>
#include <md5.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <tinyxml.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

std::string g_strTitle = "Corvane";
int g_nLanguage = 0;
char g_szVendorNumber[260] = "";
int g_bAutoRun = 0;
int g_bAutoLogin = 0;

namespace {

std::atomic<HWND> g_guardWnd{nullptr};

constexpr double kMemoryHighMB = 1200.0;

bool IsPid(const char* s)
{
    if (!*s)
        return false;
    for (; *s; ++s) {
        if (!std::isdigit(static_cast<unsigned char>(*s)))
            return false;
    }
    return true;
}

// Full path of a process's program file ("" when it cannot be read).
std::string ExePath(const std::string& pid)
{
    char buf[4096];
    ssize_t n = ::readlink(("/proc/" + pid + "/exe").c_str(), buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    std::string path(buf, static_cast<std::size_t>(n));
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
        path.resize(path.size() - deleted.size());
    return path;
}

// Program file name: of the executable, else of argv[0] (a process of
// another user whose exe link we may not read).
std::string ProgramName(const std::string& pid, const std::string& exe)
{
    if (!exe.empty())
        return exe.substr(exe.rfind('/') + 1);
    std::ifstream cmd("/proc/" + pid + "/cmdline", std::ios::binary);
    std::string argv0;
    std::getline(cmd, argv0, '\0');
    return argv0.substr(argv0.rfind('/') + 1);
}

// Calls visit(pid, exe path, program name) for every process but this one;
// stops when visit returns true.
template <class Visit>
bool ForEachProcess(Visit visit)
{
    DIR* dir = ::opendir("/proc");
    if (!dir)
        return false;
    const std::string self = std::to_string(::getpid());
    bool stopped = false;
    while (dirent* e = ::readdir(dir)) {
        if (!IsPid(e->d_name) || self == e->d_name)
            continue;
        std::string pid = e->d_name;
        std::string exe = ExePath(pid);
        if (visit(pid, exe, ProgramName(pid, exe))) {
            stopped = true;
            break;
        }
    }
    ::closedir(dir);
    return stopped;
}

bool ReadRegString(const char* key, const char* value, std::string& out)
{
    CRegistry reg(HKEY_LOCAL_MACHINE);
    return reg.OpenReadOnly(HKEY_LOCAL_MACHINE, key) && reg.ReadString(value, out);
}

} // namespace

std::string GetAppDir()
{
    return qelm::ProgramDir();
}

bool IsDirExist(const char* path)
{
    if (!path || !*path)
        return false;
    struct stat st;
    return ::stat(qelm::ResolveDrivePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

bool CreateDirTreeResolved(std::string p)
{
    if (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (p.empty())
        return false;
    if (IsDirExist(p.c_str()))
        return true;
    std::size_t slash = p.rfind('/');
    if (slash != std::string::npos) {
        std::string parent = slash == 0 ? std::string("/") : p.substr(0, slash);
        if (!CreateDirTreeResolved(parent))
            return false;
    }
    if (::mkdir(p.c_str(), 0755) == 0)
        return true;
    return errno == EEXIST && IsDirExist(p.c_str());
}

} // namespace

bool CreateDirTree(const char* path)
{
    if (!path || std::strlen(path) <= 1)
        return false;
    return CreateDirTreeResolved(qelm::ResolveDrivePath(path));
}

void Md5HexUpper(const char* text, char* out)
{
    if (!out)
        return;
    MD5_CTX ctx;
    MD5Init(&ctx);
    if (text)
        MD5Update(&ctx, reinterpret_cast<const std::uint8_t*>(text), std::strlen(text));
    std::uint8_t digest[MD5_DIGEST_LENGTH];
    MD5Final(digest, &ctx);
    static const char kHex[] = "0123456789ABCDEF";
    for (int i = 0; i < MD5_DIGEST_LENGTH; ++i) {
        out[2 * i] = kHex[digest[i] >> 4];
        out[2 * i + 1] = kHex[digest[i] & 0x0F];
    }
    out[2 * MD5_DIGEST_LENGTH] = '\0';
}

std::string GetXmlText(const TiXmlElement* elem, const char* /*name*/)
{
    if (!elem)
        return {};
    const TiXmlNode* child = elem->FirstChild();
    if (!child || !child->Value())
        return {};
    return child->Value();
}

int SetCtrlTextW(CWnd* dialog, UINT id, const wchar_t* text)
{
    if (!dialog || !dialog->GetDlgItem(id))
        return 0;
    dialog->SetDlgItemText(id, text ? text : L"");
    return 1;
}

bool IsProcessRunning(const char* name)
{
    if (!name || !*name)
        return false;
    return ForEachProcess([&](const std::string&, const std::string&, const std::string& prog) {
        return prog == name;
    });
}

namespace {

// Our own copy of a program: this user's process whose program lies in the
// program folder (another install's, or another user's, is not ours).
bool IsOwnProgram(const std::string& pid, const std::string& exe, uid_t me, const std::string& appDir)
{
    if (exe.empty())
        return false;
    struct stat st;
    if (::stat(("/proc/" + pid).c_str(), &st) != 0 || st.st_uid != me)
        return false;
    return exe.substr(0, exe.rfind('/') + 1) == appDir;
}

} // namespace

bool IsOwnProcessRunning(const char* name)
{
    if (!name || !*name)
        return false;
    const std::string appDir = GetAppDir();
    const uid_t me = ::getuid();
    return ForEachProcess([&](const std::string& pid, const std::string& exe, const std::string& prog) {
        return prog == name && IsOwnProgram(pid, exe, me, appDir);
    });
}

int TerminProcessByName(const char* name)
{
    if (!name || !*name)
        return 0;
    const std::string appDir = GetAppDir();
    const uid_t me = ::getuid();
    int killed = 0;
    ForEachProcess([&](const std::string& pid, const std::string& exe, const std::string& prog) {
        if (prog != name || !IsOwnProgram(pid, exe, me, appDir))
            return false;
        if (::kill(static_cast<pid_t>(std::stol(pid)), SIGKILL) == 0)
            killed = 1;
        return true; // the first match only, terminated or not
    });
    return killed;
}

int SplitString(const std::string& text, const std::string& delimiter, int skipEmpty,
                std::vector<std::string>& out)
{
    if (delimiter.empty())
        return 0;
    int count = 0;
    std::size_t pos = 0;
    for (;;) {
        std::size_t at = text.find(delimiter, pos);
        if (at == std::string::npos)
            break;
        if (at > pos || !skipEmpty) {
            out.push_back(text.substr(pos, at - pos));
            ++count;
        }
        pos = at + delimiter.size();
    }
    if (pos < text.size() || !skipEmpty) {
        out.push_back(text.substr(pos));
        ++count;
    }
    return count;
}

void SetMemoryGuardWindow(HWND hWnd)
{
    g_guardWnd.store(hWnd);
}

bool IsMemoryHigh()
{
    HWND h = g_guardWnd.load();
    if (!h || !IsWindow(h))
        return false;
    return GetProcessMemoryMB(h) >= kMemoryHighMB;
}

void ReadVendorNumber()
{
    std::string value;
    if (!ReadRegString(kVendorKey, "Number", value))
        return;
    for (char& c : value) // ASCII only: multi-byte characters stay as they are
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    qelm::CopyBounded(g_szVendorNumber, sizeof g_szVendorNumber, value);
}

int LanguageIndexFromLcid(const char* text)
{
    if (!text)
        return -1;
    static const struct {
        const char* code;
        int index;
    } kCodes[] = {{"2052", 0}, {"1028", 2}, {"3076", 2}, {"1033", 1}, {"1049", 3}, {"1055", 5}, {"1037", 4}, {"1029", 6}};
    for (const auto& c : kCodes) {
        if (std::strcmp(text, c.code) == 0)
            return c.index;
    }
    return -1;
}

void LoadLanguage()
{
    std::string value;
    if (!ReadRegString(kProductKey, "Language", value))
        value.clear();
    if (value.empty()) {
        g_nLanguage = 0;
        return;
    }
    int index = LanguageIndexFromLcid(value.c_str());
    if (index >= 0) {
        g_nLanguage = index;
        return;
    }
    static const struct {
        const char* name;
        int index;
    } kNames[] = {{"English", 1}, {"Simplified Chinese", 0}, {"Traditional Chinese", 2}, {"Russian", 3}, {"Turkish", 5}};
    g_nLanguage = 1;
    for (const auto& n : kNames) {
        if (value == n.name)
            g_nLanguage = n.index;
    }
}

void ReadAutoRun()
{
    std::string value;
    if (ReadRegString(kRunKey, kRunValue, value) && !value.empty()) {
        g_bAutoRun = 1;
        g_bAutoLogin = 1;
    } else {
        g_bAutoRun = 0;
    }
}

void EnableAutoRun()
{
    CRegistry reg(HKEY_LOCAL_MACHINE);
    if (!reg.Open(HKEY_LOCAL_MACHINE, kRunKey)) {
        // The Run key always exists where the system came from; a fresh hive
        // here lacks it, so make it (persistent) rather than drop the setting.
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;
        RegCloseKey(key);
        if (!reg.Open(HKEY_LOCAL_MACHINE, kRunKey))
            return;
    }
    std::string value = GetAppDir() + g_strTitle + ".exe";
    reg.WriteString(kRunValue, value.c_str());
}

void DisableAutoRun()
{
    CRegistry reg(HKEY_LOCAL_MACHINE);
    if (reg.Open(HKEY_LOCAL_MACHINE, kRunKey))
        reg.DeleteValue(kRunValue);
}
