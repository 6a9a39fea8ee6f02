// The cloud branch of the login: the account's reply turned into device
// records, and the exchange that replaces the device list and the plans.
#pragma once

#include "core/devinfo.h"

#include <list>
#include <string>

namespace cloudlogin {

// Longest channel-state text and most channels of one recorder.
inline constexpr int kMaxChannelStates = 64;
inline constexpr int kMaxNvrChannels = 64;

// DevType of a cloud device type code; *secondNvr is 1 for 201.
int DevTypeOfCode(int code, int* secondNvr);

struct Reply {
    int err = 0;
    std::string msg;
    std::string ip;           // this client's address as the service sees it
    std::string p2pserver;    // the last one read
    std::string relaysvrlist;
    std::list<DeviceInfo> devices; // NVR channel rows after their recorder
    bool truncated = false;        // more records than the device file may hold
};

// Parses the login reply. devDomain follows DevId and a point in
// DevDomainName; digestDevPass stores each device password as its MD5 digest.
// Reading stops after an err other than 0. Not XML, or no root element:
// no devices and err 0.
void ParseReply(const char* body, const std::string& devDomain, bool digestDevPass, Reply& out);

// The result of one cloud login.
struct Outcome {
    int code = 0; // CloudLogin's result; 0 when the service answered
    int err = 0;  // the reply's err when it answered
    bool ok() const { return code == 0 && err == 0; }
};

// Logs in to the account at host:port with the name and the digest. Only
// when the account is accepted are g_lstDevInfo replaced by its devices and
// the plans read again from RecInfo.xml; a refusal or a failed exchange
// changes neither.
Outcome LoginAndImport(const std::string& host, int port, const std::string& name, const std::string& digest);

} // namespace cloudlogin
