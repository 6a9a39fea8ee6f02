// The rules of the login dialog that need no window: field checks, digests,
// local users and their rights, the login history, the background picture
// and the layout of the verify mode.
#pragma once

#include "core/userinfo.h"
#include "platform/geometry.h"
#include "platform/types.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

namespace login {

// Blanks (spaces, tabs, line breaks) removed from both ends.
std::string TrimBlanks(const std::string& text);

// The longest user name and password the login takes, in characters. The
// users page saves nothing longer, so every password it saves logs in.
constexpr std::size_t kMaxFieldChars = 32;
bool FitsLoginField(const std::string& text);

// The message of the first field check of the login mode that fails, 0 when
// all pass: empty name 223, name over 32 characters 233, empty password 224,
// password over 32 characters 234.
UINT CheckLoginFields(const std::string& name, const std::string& password);

// The digest a login compares. A stored digest that the dialog itself put in
// the password field (restored from the history for that user) is used as
// it is; anything typed is hashed, whatever its length.
std::string LoginDigest(const std::string& password, bool fieldHoldsStoredDigest);

// All seven rights 0, then the rights of the first role of that name.
void LoadRoleRights(const char* roleName, std::int32_t rights[7]);

// The local user check: 0 when the user exists, the digest matches and the
// rights are not all 0 (rights filled; "admin" has all seven); else the
// message: 227 no such user, 226 wrong password, 225 no rights.
UINT CheckLocalUser(const std::string& name, const std::string& digest, std::int32_t rights[7]);

// What one successful login writes into the history.
struct HistoryUpdate {
    std::string name;
    std::string digest;  // kept only when saveFlag is 1
    std::string svrIp;   // the cloud host field
    std::string svrPort; // the login-server port field
    int saveFlag = 0;
    int loginSvrFlag = 0;
};
// Marks the user's entry as the last used (entries before it lose the mark)
// or appends a new one, dropping the oldest so that at most five remain.
void UpdateLoginHistory(std::list<_LOGIN_INFO>& history, const HistoryUpdate& update);

// The first entry of that name whose password is saved; null when none.
const _LOGIN_INFO* SavedEntry(const std::list<_LOGIN_INFO>& history, const std::string& name);
// The entry the dialog restores: the first marked as last used; null when none.
const _LOGIN_INFO* LastUsedEntry(const std::list<_LOGIN_INFO>& history);

// The background picture: by language in login mode (Login_en.jpg when the
// language's picture is missing), LoginOut.jpg in verify mode.
std::string LoginPicturePath(const std::string& appDir, int languageIndex, bool verify);

// Places of the controls in verify mode for a client area of wc x hc.
struct CtrlPlace {
    UINT id;
    CRect rect;
};
std::vector<CtrlPlace> VerifyLayout(int wc, int hc, int languageIndex, bool unlock);

// "host" or "host:port" of the cloud host field; the port is 80 unless a
// valid one follows the only colon.
void SplitCloudHost(const std::string& text, std::string* host, int* port);

} // namespace login
