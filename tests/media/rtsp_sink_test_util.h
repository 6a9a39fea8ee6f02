// Test helpers for the stream sinks: the RTSP camera fixture on 127.0.0.1,
// a silent TCP peer, windows that record what the sinks post to them, and
// the sinks' targets built from such windows.
#pragma once

#include "controls/alarm_info.h"
#include "controls/control_registry.h"
#include "media/sink_targets.h"
#include "platform/wnd.h"
#include "tests/support/rtsp_camera.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace rtspsinktest {

using Clock = std::chrono::steady_clock;

// Makes the stand-in controls creatable (once per process).
inline void EnableControls()
{
    static bool done = false;
    if (done)
        return;
    qelm::RegisterStandInFactories();
    for (const char* c : {qelm::kClsidRtspPull, qelm::kClsidAviRecord, qelm::kClsidStreamPlayer})
        qelm::EnableControlClass(c);
    done = true;
}

// Runs the UI event loop until pred holds or ms pass.
inline bool WaitFor(const std::function<bool()>& pred, int ms)
{
    auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (Clock::now() > until)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        usleep(2000);
    }
    return true;
}

inline void Pump(int ms)
{
    WaitFor([] { return false; }, ms);
}

// The fixture camera and a silent TCP peer on 127.0.0.1.
using qelmtest::RtspCamera;
using qelmtest::SilentServer;

// One message a RecorderWnd received, with copies of its payload.
struct Posted {
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::string text;        // WM_STREAM_STATUS: the DevId block; text messages: the text
    size_t blockZeros = 0;   // WM_STREAM_STATUS: bytes after the DevId that are 0
    _ALARM_SOURCE source{};
    _ALARM_INFO alarm{};
    int32_t ptzKind = -1;    // WM_PTZ_RESPONSE: who answered
    std::string ptzDevId;    // WM_PTZ_RESPONSE: the stream sink's device id, copied
};

// A real window that keeps every message posted to it and frees the payloads
// the way their handlers do.
class RecorderWnd : public CWnd {
public:
    explicit RecorderWnd(CWnd* parent = nullptr, const CRect& rc = CRect(0, 0, 320, 240))
    {
        Create(parent, rc);
        ShowWindow(SW_SHOW);
    }
    std::vector<Posted> got;

    int Count(UINT msg) const
    {
        int n = 0;
        for (const Posted& p : got)
            n += p.msg == msg;
        return n;
    }

    BOOL PreTranslateMessage(MSG* m) override
    {
        Posted p;
        p.msg = m->message;
        p.wParam = m->wParam;
        p.lParam = m->lParam;
        switch (m->message) {
        case WM_STREAM_STATUS: {
            const char* block = reinterpret_cast<const char*>(m->wParam);
            p.text.assign(block, strnlen(block, 128));
            for (size_t i = p.text.size(); i < 128; ++i)
                p.blockZeros += block[i] == 0;
            delete[] block;
            break;
        }
        case WM_PTZ_RESPONSE: {
            auto* who = reinterpret_cast<PtzAnswerSource*>(m->wParam);
            p.ptzKind = who->kind;
            p.ptzDevId = who->devId;
            delete who;
            p.text = reinterpret_cast<const char*>(m->lParam);
            qelm::FreeText(reinterpret_cast<char*>(m->lParam));
            break;
        }
        case WM_CHANNEL_STATES:
            p.text = reinterpret_cast<const char*>(m->lParam);
            qelm::FreeText(reinterpret_cast<char*>(m->lParam));
            break;
        case WM_DEV_ALARM: {
            auto* src = reinterpret_cast<_ALARM_SOURCE*>(m->wParam);
            auto* info = reinterpret_cast<_ALARM_INFO*>(m->lParam);
            p.source = *src;
            p.alarm = *info;
            delete src;
            delete info;
            break;
        }
        case WM_STOP_TALK:
            break;
        default:
            return CWnd::PreTranslateMessage(m);
        }
        got.push_back(p);
        return TRUE;
    }
};

// The sinks' targets: a main window and a PTZ panel that record, and panes
// marked as alarm or map panes.
class Targets : public IMediaSinkTargets {
public:
    RecorderWnd main;
    RecorderWnd ptz;
    std::set<CWnd*> alarmPanes, mapPanes;
    std::vector<CWnd*> resetPanes;

    Targets() { SetMediaSinkTargets(this); }
    ~Targets() override { SetMediaSinkTargets(nullptr); }

    HWND MainWnd() override { return main.GetSafeHwnd(); }
    HWND PtzPanelWnd() override { return ptz.GetSafeHwnd(); }
    HWND SearchRecWnd() override { return nullptr; }
    HWND MaintPageWnd() override { return nullptr; }
    void OnNVRSpeakMediaData(int32_t, const uint8_t*, int32_t, const int32_t*) override {}
    int OnNVRSpeakParam(int32_t, char* xml) override
    {
        qelm::FreeText(xml);
        return 0;
    }
    void OnMediaDataRecv(int32_t, const uint8_t*, int32_t, const int32_t*, int32_t) override {}
    void OnMediaParamRecv(int32_t, char* xml, int32_t) override { qelm::FreeText(xml); }
    void OnNVRReplayEnd(int32_t, int32_t, int32_t) override {}
    void OnTimeDownloadProgress(int32_t, int32_t) override {}
    bool IsAlarmPane(CWnd* area) override { return alarmPanes.count(area) != 0; }
    bool IsMapPane(CWnd* area) override { return mapPanes.count(area) != 0; }
    void ResetWatchInfo(CWnd* area) override { resetPanes.push_back(area); }
};

} // namespace rtspsinktest
