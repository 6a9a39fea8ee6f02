// Cloud device notices: the main window's handlers of the alarm-server
// session's notices (add, online, offline, address change, removal) and of
// its end, with the wire records the session and the handlers share.
#pragma once

#include "platform/message.h"
#include "platform/types.h"

#include <QObject>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

enum : UINT {
    WM_CLOUD_LINK_END = WM_USER + 7000, // reason 1..7, 0
    WM_CLOUD_NOTIFY = WM_USER + 7001,   // 2, heap CHS_DevAlarmNotify (delete[] as uint8_t)
};

// Every datagram of the alarm-server protocol starts with this (little-endian).
struct CHS_MsgHead {
    char magic[4];        // "kwzd"
    uint32_t bodyLength;  // datagram length - 16
    uint16_t headLength;  // 16
    uint16_t command;
    uint32_t reserved;
};
static_assert(sizeof(CHS_MsgHead) == 16);
static_assert(offsetof(CHS_MsgHead, command) == 10);

inline constexpr std::size_t kCloudNoticeTextSize = 1204;

// A cloud notice (command 2) as the session copies it.
#pragma pack(push, 1)
struct CHS_DevAlarmNotify {
    CHS_MsgHead head;
    uint64_t devId;
    uint32_t AlarmType;
    char text[kCloudNoticeTextSize]; // lines "key:value" separated by "\r\n"
};
#pragma pack(pop)
static_assert(sizeof(CHS_DevAlarmNotify) == 1232);
static_assert(offsetof(CHS_DevAlarmNotify, devId) == 16);
static_assert(offsetof(CHS_DevAlarmNotify, AlarmType) == 24);
static_assert(offsetof(CHS_DevAlarmNotify, text) == 28);

// AlarmType codes of the notices.
enum : uint32_t {
    kCloudDevAdded = 100001001,
    kCloudDevAdded2 = 200000001,
    kCloudDevOnline = 100001002,
    kCloudDevOffline = 100001003,
    kCloudDevMoved = 100001004,
    kCloudDevNothing = 200000002,
    kCloudDevRemoved = 200000003,
};

// Session end reasons.
enum : int {
    kLinkNoNetwork = 1,
    kLinkNoHost = 2,
    kLinkNoSocket = 3,
    kLinkRecvFailed = 4,
    kLinkWaitFailed = 5,
    kLinkTimeout = 6,
    kLinkRefused = 7,
};

// The alarm-server session as its owner drives it (alarms/ implements it).
class ICloudSession {
public:
    virtual ~ICloudSession() = default;
    // Sends the logout when logged in; while the session still runs.
    virtual void Logout() = 0;
    // Ends the session's thread and waits for it.
    virtual void Stop() = 0;
};

// Creates and starts a session that posts to owner.
using CloudSessionFactory = std::function<std::unique_ptr<ICloudSession>(
    const char* user, const char* password, const char* host, int port, HWND owner)>;

// The cloud account the notices work with.
struct CloudAccount {
    std::string user;
    std::string password;
    std::string cloudHost;       // the account service (device descriptions)
    int cloudPort = 80;
    std::string alarmHost;       // the alarm server; empty until configured
    int alarmPort = 6060;
};

class CCloudNotices {
public:
    CCloudNotices();
    ~CCloudNotices();
    CCloudNotices(const CCloudNotices&) = delete;
    CCloudNotices& operator=(const CCloudNotices&) = delete;

    void SetAccount(const CloudAccount& account) { m_account = account; }
    const CloudAccount& Account() const { return m_account; }
    void SetSessionFactory(CloudSessionFactory factory) { m_factory = std::move(factory); }
    // Where sessions post (the main window).
    void SetOwner(HWND owner) { m_owner = owner; }

    // The main window's timer 1004 in cloud-login mode.
    void StartSession();
    // The main window's close: logout, stop, delete.
    void CloseSession();
    bool HasSession() const { return m_session != nullptr; }
    bool RestartPending() const { return m_restartPending; }

    // WM_CLOUD_NOTIFY: takes the block.
    LRESULT OnCloudNotify(WPARAM wParam, LPARAM lParam);
    // WM_CLOUD_LINK_END.
    LRESULT OnCloudLinkEnd(WPARAM reason, LPARAM);

    // A session that ends at once (reasons 1 to 3) is started again after a
    // delay that doubles from this base up to the cap; a session that got
    // further restarts at once.
    void SetBackoff(int baseMs, int capMs)
    {
        m_backoffBaseMs = baseMs;
        m_backoffCapMs = capMs;
    }
    int NextBackoffMs() const;

private:
    void AddDevice(const std::string& devId);
    void ReAddDevice(const std::string& devId, const char* text);

    CloudAccount m_account;
    CloudSessionFactory m_factory;
    HWND m_owner = nullptr;
    std::unique_ptr<ICloudSession> m_session;
    std::unique_ptr<QObject> m_timerContext;   // cancels a pending restart when it goes
    bool m_restartPending = false;
    int m_quickEnds = 0;
    int m_backoffBaseMs = 1000;
    int m_backoffCapMs = 30000;
};

// The cloud-device part of a device description (reply of the account
// service): devtype code to DevType.
int CloudDevType(int code);
