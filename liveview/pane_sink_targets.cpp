#include "liveview/pane_sink_targets.h"

#include "liveview/video_wnd.h"

void CLiveViewSinkTargets::OnNVRSpeakMediaData(int32_t id, const uint8_t* data, int32_t length, const int32_t* value)
{
    if (m_pInner)
        m_pInner->OnNVRSpeakMediaData(id, data, length, value);
}

int CLiveViewSinkTargets::OnNVRSpeakParam(int32_t id, char* xml)
{
    if (m_pInner)
        return m_pInner->OnNVRSpeakParam(id, xml);
    qelm::FreeText(xml);
    return 0;
}

void CLiveViewSinkTargets::OnMediaDataRecv(int32_t id, const uint8_t* data, int32_t length, const int32_t* pointer,
                                           int32_t value)
{
    if (m_pInner)
        m_pInner->OnMediaDataRecv(id, data, length, pointer, value);
}

void CLiveViewSinkTargets::OnMediaParamRecv(int32_t id, char* xml, int32_t kind)
{
    if (m_pInner)
        m_pInner->OnMediaParamRecv(id, xml, kind);
    else
        qelm::FreeText(xml);
}

void CLiveViewSinkTargets::OnNVRReplayEnd(int32_t id, int32_t code, int32_t channel)
{
    if (m_pInner)
        m_pInner->OnNVRReplayEnd(id, code, channel);
}

void CLiveViewSinkTargets::OnTimeDownloadProgress(int32_t id, int32_t value)
{
    if (m_pInner)
        m_pInner->OnTimeDownloadProgress(id, value);
}

bool CLiveViewSinkTargets::IsAlarmPane(CWnd* area)
{
    if (CVideoWnd* pane = CVideoWnd::FromRenderArea(area))
        return pane->IsAlarmPane() != 0;
    return m_pInner && m_pInner->IsAlarmPane(area);
}

bool CLiveViewSinkTargets::IsMapPane(CWnd* area)
{
    if (CVideoWnd* pane = CVideoWnd::FromRenderArea(area))
        return pane->IsMapPane() != 0;
    return m_pInner && m_pInner->IsMapPane(area);
}

void CLiveViewSinkTargets::ResetWatchInfo(CWnd* area)
{
    if (CVideoWnd* pane = CVideoWnd::FromRenderArea(area))
        pane->ResetWatchInfo();
    else if (m_pInner)
        m_pInner->ResetWatchInfo(area);
}

void RegisterLiveViewSinkTargets()
{
    static CLiveViewSinkTargets* ours = nullptr;
    IMediaSinkTargets* current = GetMediaSinkTargets();
    if (ours && current == ours)
        return;
    if (!ours)
        ours = new CLiveViewSinkTargets(current);
    else
        ours->SetInner(current);
    SetMediaSinkTargets(ours);
}
