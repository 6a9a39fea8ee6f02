// The live view's side of the media sinks' targets: the pane questions
// (alarm pane, map pane, forget the watch), answered from the panes. The
// main-window part is passed on to whatever was registered before.
#pragma once

#include "media/sink_targets.h"

class CLiveViewSinkTargets : public IMediaSinkTargets {
public:
    explicit CLiveViewSinkTargets(IMediaSinkTargets* inner) : m_pInner(inner) {}
    void SetInner(IMediaSinkTargets* inner) { m_pInner = inner; }
    IMediaSinkTargets* Inner() const { return m_pInner; }

    HWND MainWnd() override { return m_pInner ? m_pInner->MainWnd() : nullptr; }
    HWND PtzPanelWnd() override { return m_pInner ? m_pInner->PtzPanelWnd() : nullptr; }
    HWND SearchRecWnd() override { return m_pInner ? m_pInner->SearchRecWnd() : nullptr; }
    HWND MaintPageWnd() override { return m_pInner ? m_pInner->MaintPageWnd() : nullptr; }
    void OnNVRSpeakMediaData(int32_t id, const uint8_t* data, int32_t length, const int32_t* value) override;
    int OnNVRSpeakParam(int32_t id, char* xml) override;
    void OnMediaDataRecv(int32_t id, const uint8_t* data, int32_t length, const int32_t* pointer,
                         int32_t value) override;
    void OnMediaParamRecv(int32_t id, char* xml, int32_t kind) override;
    void OnNVRReplayEnd(int32_t id, int32_t code, int32_t channel) override;
    void OnTimeDownloadProgress(int32_t id, int32_t value) override;

    bool IsAlarmPane(CWnd* area) override;
    bool IsMapPane(CWnd* area) override;
    void ResetWatchInfo(CWnd* area) override;

private:
    IMediaSinkTargets* m_pInner;
};

// Puts the live view's pane answers in front of the registered targets
// (once; a later registration by the main window calls it again to be
// wrapped). UI thread.
void RegisterLiveViewSinkTargets();
