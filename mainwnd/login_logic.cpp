#include "mainwnd/login_logic.h"

#include "core/helpers.h"
#include "platform/text.h"

#include <sys/stat.h>

#include <cctype>
#include <cstring>

namespace login {

namespace {

std::string Field(const char* text, std::size_t size)
{
    return std::string(text, strnlen(text, size));
}

bool FileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

const char* PictureName(int languageIndex)
{
    switch (languageIndex) {
    case 1: return "Login_en.jpg";
    case 2: return "Login_tc.jpg";
    case 3: return "Login_rus.jpg";
    case 5: return "Login_tk.jpg";
    default: return "Login_ch.jpg";
    }
}

} // namespace

std::string TrimBlanks(const std::string& text)
{
    const char* blanks = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

bool FitsLoginField(const std::string& text)
{
    return qelm::Utf8CharCount(text) <= kMaxFieldChars;
}

UINT CheckLoginFields(const std::string& name, const std::string& password)
{
    if (name.empty())
        return 223;
    if (!FitsLoginField(name))
        return 233;
    if (password.empty())
        return 224;
    if (!FitsLoginField(password))
        return 234;
    return 0;
}

std::string LoginDigest(const std::string& password, bool fieldHoldsStoredDigest)
{
    if (fieldHoldsStoredDigest)
        return password;
    char digest[33];
    Md5HexUpper(password.c_str(), digest);
    return digest;
}

void LoadRoleRights(const char* roleName, std::int32_t rights[7])
{
    for (int i = 0; i < 7; ++i)
        rights[i] = 0;
    for (const Role& r : g_lstRoleInfo) {
        if (Field(r.RoleName, sizeof r.RoleName) != (roleName ? roleName : ""))
            continue;
        rights[0] = r.SurPTZ;
        rights[1] = r.Alarm;
        rights[2] = r.Record;
        rights[3] = r.PTZ;
        rights[4] = r.UserManager;
        rights[5] = r.HighLeve;
        rights[6] = r.TvWallMap;
        return;
    }
}

UINT CheckLocalUser(const std::string& name, const std::string& digest, std::int32_t rights[7])
{
    for (const User& u : g_lstUserInfo) {
        if (Field(u.UserName, sizeof u.UserName) != name)
            continue;
        std::string stored = Field(u.Password, sizeof u.Password);
        if (!u.PwdIsDigest) { // a password set on the user page and not saved yet
            char hashed[33];
            Md5HexUpper(stored.c_str(), hashed);
            stored = hashed;
        }
        if (digest != stored)
            return 226;
        if (name == "admin") {
            for (int i = 0; i < 7; ++i)
                rights[i] = 1;
        } else {
            const std::string role = Field(u.RoleName, sizeof u.RoleName);
            LoadRoleRights(role.c_str(), rights);
            bool any = false;
            for (int i = 0; i < 7; ++i)
                any = any || rights[i] != 0;
            if (!any)
                return 225;
        }
        return 0;
    }
    return 227;
}

void UpdateLoginHistory(std::list<_LOGIN_INFO>& history, const HistoryUpdate& update)
{
    auto fill = [&update](_LOGIN_INFO& e) {
        e.SaveFlg = update.saveFlag;
        e.LastUsingFlg = 1;
        qelm::CopyBounded(e.SvrIp, sizeof e.SvrIp, update.svrIp);
        qelm::CopyBounded(e.SvrPort, sizeof e.SvrPort, update.svrPort);
        // Only an entry that is to be saved keeps the digest.
        qelm::CopyBounded(e.Password, sizeof e.Password, update.saveFlag == 1 ? update.digest : std::string());
        e.LoginSvrFlg = update.loginSvrFlag;
    };
    for (_LOGIN_INFO& e : history) {
        if (Field(e.UserName, sizeof e.UserName) == update.name) {
            fill(e);
            return;
        }
        e.LastUsingFlg = 0;
    }
    _LOGIN_INFO entry{};
    qelm::CopyBounded(entry.UserName, sizeof entry.UserName, update.name);
    fill(entry);
    while (history.size() >= 5)
        history.pop_front();
    history.push_back(entry);
}

const _LOGIN_INFO* SavedEntry(const std::list<_LOGIN_INFO>& history, const std::string& name)
{
    for (const _LOGIN_INFO& e : history)
        if (e.SaveFlg == 1 && Field(e.UserName, sizeof e.UserName) == name)
            return &e;
    return nullptr;
}

const _LOGIN_INFO* LastUsedEntry(const std::list<_LOGIN_INFO>& history)
{
    for (const _LOGIN_INFO& e : history)
        if (e.LastUsingFlg == 1)
            return &e;
    return nullptr;
}

std::string LoginPicturePath(const std::string& appDir, int languageIndex, bool verify)
{
    if (verify)
        return appDir + "Images/LoginOut.jpg";
    std::string path = appDir + "Images/" + PictureName(languageIndex);
    if (!FileExists(path))
        path = appDir + "Images/Login_en.jpg";
    return path;
}

std::vector<CtrlPlace> VerifyLayout(int wc, int hc, int languageIndex, bool unlock)
{
    const int y0 = hc / 2 - 20 - 15;
    const int x0 = wc / 2 - 24 - 70 - 5;
    std::vector<CtrlPlace> places;
    if (languageIndex == 3)
        places.push_back({1004, CRect(x0 - 24, y0, x0 - 24 + 72, y0 + 20)});
    else
        places.push_back({1004, CRect(x0, y0, x0 + 48, y0 + 20)});
    places.push_back({1005, CRect(x0, y0 + 37, x0 + 48, y0 + 37 + 20)});
    places.push_back({1002, CRect(x0 + 58, y0 - 5, x0 + 58 + 140, y0 - 5 + 20)});
    places.push_back({1003, CRect(x0 + 58, y0 + 32, x0 + 58 + 140, y0 + 32 + 20)});
    const int buttonsY = unlock ? y0 + 67 : y0 + 100;
    if (!unlock)
        places.push_back({1418, CRect(x0 + 28, y0 + 65, x0 + 28 + 170, y0 + 65 + 23)});
    places.push_back({1000, CRect(wc / 2 - 77, buttonsY, wc / 2 - 77 + 62, buttonsY + 23)});
    places.push_back({1001, CRect(wc / 2 + 15, buttonsY, wc / 2 + 15 + 62, buttonsY + 23)});
    return places;
}

void SplitCloudHost(const std::string& text, std::string* host, int* port)
{
    *host = text;
    *port = 80;
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos)
        return;
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5)
        return;
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return;
    const int value = std::stoi(digits);
    if (value < 1 || value > 65535)
        return;
    *host = text.substr(0, colon);
    *port = value;
}

} // namespace login
