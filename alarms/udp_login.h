// The alarm-server UDP session of the cloud mode: logs in, keeps the session
// alive, hands every device notice to its owner window (WM_CLOUD_NOTIFY) and
// reports its end (WM_CLOUD_LINK_END).
#pragma once

#include "core/thread.h"
#include "devices/cloud_notices.h"
#include "platform/types.h"

#include <atomic>
#include <cstdint>
#include <mutex>

#include <netinet/in.h>

class CUdpLogin : public CThread, public ICloudSession {
public:
    // Copies the texts (64, 64 and 260 bytes, cut); no socket, run flag 1,
    // no owner, session ids 0.
    CUdpLogin(const char* user, const char* password, const char* host, int port);
    ~CUdpLogin() override;

    void SetOwnerWnd(HWND owner) { m_hOwner = owner; }
    // Clears the run flag and waits for the thread.
    void Stop() override;
    // Sends the logout when session ids are held, then forgets them. UI
    // thread, while the session thread still runs.
    void Logout() override;
    int Run() override;

    // One received datagram (the session thread; also fuzzers and tests).
    void OnPacket(const uint8_t* data, int length);

    uint32_t SessionId1() const { return m_nSessionId1; }
    uint32_t SessionId2() const { return m_nSessionId2; }

    static constexpr int kRecvBufferSize = 1500;
    static constexpr uint32_t kKeepAliveMs = 7000;   // sent when more than 6,999 ms passed
    static constexpr uint32_t kTimeoutMs = 22000;    // ends when more than 21,999 ms passed

private:
    bool InitNetwork();
    void RunSession();
    void End(int reason);
    bool Resolve(sockaddr_in* out) const;
    void SendTo(const uint8_t* data, std::size_t length);

    char m_szUser[64] = {};
    char m_szPassword[64] = {};
    char m_szHost[260] = {};
    int m_nPort = 0;
    int m_socket = -1;                    // under m_sockLock once the thread runs
    std::mutex m_sockLock;
    sockaddr_in m_dest{};
    std::atomic<int> m_bRun{1};
    HWND m_hOwner = nullptr;
    std::atomic<uint32_t> m_dwLastAnswer{0};
    std::atomic<uint32_t> m_dwLastKeepAlive{0};
    std::atomic<uint32_t> m_nSessionId1{0};
    std::atomic<uint32_t> m_nSessionId2{0};
    bool m_bRefusedPosted = false;
};
