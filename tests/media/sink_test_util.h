// Test helpers for the media sinks: windows that record and free what is
// posted to them, a test set of sink targets, and waiting while Qt runs.
#pragma once

#include "controls/alarm_info.h"
#include "controls/control_registry.h"
#include "media/sink_targets.h"
#include "platform/wnd.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace auxsinktest {

inline bool WaitFor(const std::function<bool()>& done, int ms = 3000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Delivers what is queued now.
inline void Pump()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

// Puts the control classes back as they were when it was made, so that a
// test that registers or resets them leaves the others' set-up alone.
class ControlClassesGuard {
public:
    ControlClassesGuard()
    {
        for (int i = 0; i < kCount; ++i)
            m_enabled[i] = qelm::IsControlClassEnabled(kIds[i]);
    }
    ~ControlClassesGuard()
    {
        qelm::ResetControlClasses();
        for (int i = 0; i < kCount; ++i)
            if (m_enabled[i])
                qelm::EnableControlClass(kIds[i]);
    }
    ControlClassesGuard(const ControlClassesGuard&) = delete;
    ControlClassesGuard& operator=(const ControlClassesGuard&) = delete;

private:
    static constexpr int kCount = 6;
    static constexpr const char* kIds[kCount] = {qelm::kClsidAuxPtz,        qelm::kClsidRtspPull,
                                                  qelm::kClsidAviRecord,     qelm::kClsidCameraSearch,
                                                  qelm::kClsidPlayBack,      qelm::kClsidStreamPlayer};
    bool m_enabled[kCount] = {};
};

// One message as a window received it, with its payload copied out.
struct Received {
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::string text;             // text payloads and the text of a config block
    bool hasBlock = false;        // WM_DEV_CONFIG_RESPONSE 1012/1014
    int32_t blockAuxPtzId = 0;
    int32_t blockCode = 0;
    bool hasAlarm = false;        // WM_DEV_ALARM
    _ALARM_SOURCE source{};
    _ALARM_INFO alarm{};
    int32_t ptzKind = -1;         // WM_PTZ_RESPONSE: PtzAnswerSource::kind
};

inline bool IsTextMessage(UINT msg)
{
    switch (msg) {
    case WM_DEV_RECFILE_RESPONSE:
    case WM_NVR_RECFILE_RESPONSE:
    case WM_NVR_CHANNEL_LIST:
    case WM_CHANNEL_STATES:
    case WM_PTZ_RESPONSE:
    case WM_DOWNLOAD_PROGRESS:
        return true;
    default:
        return false;
    }
}

// A window that takes every sink message the way its real handler would:
// it keeps a copy of the payload and frees it (FreeText, delete).
class RecorderWnd : public CWnd {
public:
    std::vector<Received> got;

    RecorderWnd() { Create(nullptr, CRect(0, 0, 40, 30)); }

    BOOL PreTranslateMessage(MSG* m) override
    {
        if (m->message < WM_STOP_TALK || m->message > WM_DOWNLOAD_PROGRESS)
            return CWnd::PreTranslateMessage(m);
        Received r;
        r.msg = m->message;
        r.wParam = m->wParam;
        r.lParam = m->lParam;
        if (m->message == WM_PTZ_RESPONSE) {
            // The answering handle stands in wParam's place for the comparisons.
            auto* who = reinterpret_cast<PtzAnswerSource*>(m->wParam);
            r.ptzKind = who->kind;
            r.wParam = WPARAM(who->auxPtzId);
            delete who;
        }
        if (IsTextMessage(m->message)) {
            char* text = reinterpret_cast<char*>(m->lParam);
            r.text = text;
            qelm::FreeText(text);
        } else if (m->message == WM_DEV_CONFIG_RESPONSE && (m->wParam == 1012 || m->wParam == 1014)) {
            auto* block = reinterpret_cast<DevConfigResponse*>(m->lParam);
            r.hasBlock = true;
            r.blockAuxPtzId = block->auxPtzId;
            r.blockCode = block->code;
            r.text = block->text ? block->text : "(null)";
            delete block;
        } else if (m->message == WM_DEV_ALARM) {
            auto* source = reinterpret_cast<_ALARM_SOURCE*>(m->wParam);
            auto* alarm = reinterpret_cast<_ALARM_INFO*>(m->lParam);
            r.hasAlarm = true;
            std::memcpy(&r.source, source, sizeof(r.source));
            std::memcpy(&r.alarm, alarm, sizeof(r.alarm));
            delete source;
            delete alarm;
        }
        got.push_back(r);
        return TRUE;
    }
};

// A direct call the sink made on the targets.
struct Call {
    std::string name;
    int32_t auxPtzId = 0;
    int32_t a = 0, b = 0;
    std::string text;
    std::vector<uint8_t> data;
    const int32_t* pointer = nullptr;
};

// The main window and three pages as real windows; a page can be taken away
// (null handle) to show the "page does not exist" paths.
class TestTargets : public IMediaSinkTargets {
public:
    RecorderWnd main, ptz, search, maint;
    bool hasMain = true, hasPtz = true, hasSearch = true, hasMaint = true;
    std::vector<Call> calls;

    HWND MainWnd() override { return hasMain ? main.GetSafeHwnd() : nullptr; }
    HWND PtzPanelWnd() override { return hasPtz ? ptz.GetSafeHwnd() : nullptr; }
    HWND SearchRecWnd() override { return hasSearch ? search.GetSafeHwnd() : nullptr; }
    HWND MaintPageWnd() override { return hasMaint ? maint.GetSafeHwnd() : nullptr; }

    void OnNVRSpeakMediaData(int32_t id, const uint8_t* data, int32_t length, const int32_t* value) override
    {
        calls.push_back({"OnNVRSpeakMediaData", id, length, 0, {}, Bytes(data, length), value});
    }
    int OnNVRSpeakParam(int32_t id, char* xml) override
    {
        calls.push_back({"OnNVRSpeakParam", id, 0, 0, xml, {}, nullptr});
        qelm::FreeText(xml);
        return 0;
    }
    void OnMediaDataRecv(int32_t id, const uint8_t* data, int32_t length, const int32_t* pointer,
                         int32_t value) override
    {
        calls.push_back({"OnMediaDataRecv", id, length, value, {}, Bytes(data, length), pointer});
    }
    void OnMediaParamRecv(int32_t id, char* xml, int32_t kind) override
    {
        calls.push_back({"OnMediaParamRecv", id, kind, 0, xml, {}, nullptr});
        qelm::FreeText(xml);
    }
    void OnNVRReplayEnd(int32_t id, int32_t code, int32_t channel) override
    {
        calls.push_back({"OnNVRReplayEnd", id, code, channel, {}, {}, nullptr});
    }
    void OnTimeDownloadProgress(int32_t id, int32_t value) override
    {
        calls.push_back({"OnTimeDownloadProgress", id, value, 0, {}, {}, nullptr});
    }
    bool IsAlarmPane(CWnd*) override { return false; }
    bool IsMapPane(CWnd*) override { return false; }
    void ResetWatchInfo(CWnd*) override {}

    void ClearAll()
    {
        main.got.clear();
        ptz.got.clear();
        search.got.clear();
        maint.got.clear();
        calls.clear();
    }

private:
    static std::vector<uint8_t> Bytes(const uint8_t* data, int32_t length)
    {
        if (!data || length <= 0)
            return {};
        return std::vector<uint8_t>(data, data + length);
    }
};

} // namespace auxsinktest
