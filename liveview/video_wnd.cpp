// CVideoWnd: the pane window, opening a watch and ending it.
#include "liveview/video_wnd.h"

#include "controls/media_params.h"
#include "core/log.h"
#include "core/userinfo.h"
#include "devices/onvif_profile.h"
#include "liveview/live_view_host.h"
#include "liveview/pane_sink_targets.h"
#include "liveview/video_manager_dlg.h"
#include "media/rtsp_events.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "ui/res_msg_dlg.h"

#include <QPainter>

#include <cstring>

namespace {

bool Eq(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

// The render area: a black static the sinks draw into.
class CPaneRenderArea : public CWnd {
public:
    explicit CPaneRenderArea(CWnd* parent) : CWnd(parent)
    {
        setAutoFillBackground(true);
        QPalette pal = palette();
        pal.setColor(QPalette::Window, Qt::black);
        setPalette(pal);
    }
};

} // namespace

CVideoWnd::CVideoWnd(CWnd* pOwner, int isAlarmPane, int isMapPane) : CDialog(IDD, pOwner)
{
    SetChildStyle(true);
    if (isAlarmPane == 1)
        m_bAlarmPane = 1;
    else if (isMapPane == 1) {
        m_bMapPane = 1;
        m_pMapDlg = pOwner;
    } else
        m_pVideoMgr = dynamic_cast<CVideoManagerDlg*>(pOwner);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
}

CVideoWnd::~CVideoWnd()
{
    if (m_pMsgDlg) {
        m_pMsgDlg->DestroyWindow();
        delete m_pMsgDlg;
        m_pMsgDlg = nullptr;
    }
}

void CVideoWnd::CreateControls()
{
    auto* area = new CPaneRenderArea(this);
    area->Create(this, CRect(2, 2, 2, 2), IDC_RENDER);
    m_pRenderArea = area;
}

BOOL CVideoWnd::OnInitDialog()
{
    CDialog::OnInitDialog();
    RegisterLiveViewSinkTargets();
    if (!m_pMsgDlg) {
        m_pMsgDlg = new CResMsgDlg();
        m_pMsgDlg->Create(CResMsgDlg::IDD, this);
    }
    return TRUE;
}

CVideoWnd* CVideoWnd::FromRenderArea(CWnd* wnd)
{
    for (QWidget* w = wnd; w; w = w->parentWidget()) {
        if (auto* pane = dynamic_cast<CVideoWnd*>(w))
            return pane->m_pRenderArea && (wnd == pane->m_pRenderArea || pane->m_pRenderArea->isAncestorOf(wnd))
                       ? pane
                       : nullptr;
    }
    return nullptr;
}

void CVideoWnd::MoveVideoWnd(int x, int y, int w, int h)
{
    if (m_pRenderArea)
        m_pRenderArea->MoveWindow(2, 2, w - 4, h - 4, TRUE);
    MoveWindow(x, y, w, h, TRUE);
    for (CRtspEvents* sink : {m_DevInfo.pRtspEvent1, m_DevInfo.pRtspEvent2}) {
        // The copy's sinks are only touched while the device is still listed.
        if (m_bWatching && sink && FindListed(m_DevInfo) && sink->GetStreamId() != 0)
            sink->ResizeRenders();
    }
    if (m_pRenderArea)
        m_pRenderArea->Invalidate();
    m_x = x;
    m_y = y;
    m_w = w;
    m_h = h;
}

void CVideoWnd::GetWndPos(CRect* rc) const
{
    if (rc)
        *rc = CRect(m_x, m_y, m_x + m_w, m_y + m_h);
}

void CVideoWnd::SetSelected(uint8_t selected)
{
    m_bSelected = selected;
    update();
}

void CVideoWnd::DrawFrame()
{
    QPainter p(this);
    QPen pen(qelm::ToQColor(m_bSelected ? kFrameSelected : kFrameNormal));
    pen.setWidth(2);
    p.setPen(pen);
    // The client rectangle shrunk by one, its right and bottom exclusive:
    // the 2-pixel pen covers the outermost two pixels on every side.
    const int r = width() - 1, b = height() - 1;
    const QPoint pts[5] = {QPoint(1, 1), QPoint(r, 1), QPoint(r, b), QPoint(1, b), QPoint(1, 1)};
    p.drawPolyline(pts, 5);
}

void CVideoWnd::OnPaint() { DrawFrame(); }

BOOL CVideoWnd::PreTranslateMessage(MSG* pMsg)
{
    // Clicks anywhere in the pane (the player inside included) reach the
    // grid; the player still gets them for its own zoom.
    if (m_pVideoMgr && (pMsg->message == WM_LBUTTONDOWN || pMsg->message == WM_RBUTTONDOWN ||
                        pMsg->message == WM_LBUTTONDBLCLK)) {
        MSG copy = *pMsg;
        m_pVideoMgr->OnWndMouseMsg(&copy, m_nWndIndex);
        return pMsg->message == WM_LBUTTONDBLCLK ? TRUE : FALSE;
    }
    return CDialog::PreTranslateMessage(pMsg);
}

DeviceInfo* CVideoWnd::FindListed(const DeviceInfo& r) const
{
    for (DeviceInfo& d : g_lstDevInfo)
        if (Eq(d.DevName, r.DevName) && Eq(d.DevId, r.DevId))
            return &d;
    return nullptr;
}

DeviceInfo* CVideoWnd::FindByNameAndSinks() const
{
    for (DeviceInfo& d : g_lstDevInfo)
        if (Eq(d.DevName, m_DevInfo.DevName) && d.pRtspEvent1 && d.pRtspEvent2 && Eq(d.DevId, m_DevInfo.DevId))
            return &d;
    return nullptr;
}

int CVideoWnd::OpenNewStream(DeviceInfo* d, const DeviceInfo* r, CRtspEvents* sink, int slot, const std::string& url,
                             const char* streamName, const void* profile, bool recordingSide)
{
    if (profile)
        sink->SetStreamProfile(static_cast<const StreamProfile*>(profile));
    sink->SetZoomMode(m_nZoomMode);
    sink->SetMediaRenderMod(m_pRenderArea, 1);
    if (!recordingSide)
        sink->ClearReceivedVideo();
    CRtspPullCtrl* pull = sink->GetPullCtrl();
    int32_t id = -1;
    if (pull) {
        if (r->VisitMod == 2 && !profile)
            id = pull->AddStreamEx(r->DevSN, static_cast<uint16_t>(r->VideoPort), streamName, r->LoginName,
                                   r->LoginPsw, r->RtpOverRtsp);
        else
            id = pull->AddStream(url.c_str(), r->LoginName, r->LoginPsw, r->RtpOverRtsp);
    }
    const char* sinkName = slot == 1 ? "pRtspEvent1" : "pRtspEvent2";
    if (id <= 0) {
        // No stream: the sink must not look open.
        WriteLog(3, "CVideoWnd::AddWatch(): Add a surveillance stream failed, Url=%s, DevName=%s, %s error=%ld",
                 url.c_str(), r->DevName, sinkName, long(id));
        sink->SetMediaRenderMod(m_pRenderArea, 0);
        (slot == 1 ? d->StreamId1 : d->StreamId2) = 0;
        return -1;
    }
    (slot == 1 ? d->StreamId1 : d->StreamId2) = id;
    sink->SetStreamInfo(id, d->WatchStreamType, 0, 0);
    WriteLog(6,
             recordingSide ? " CVideoWnd::AddWatch():Add a surveillance stream, Url=%s, DevName=%s, %s set StreamId=%ld"
                           : "CVideoWnd::AddWatch(): Add a surveillance stream, Url=%s, DevName=%s, %s set StreamId=%ld",
             url.c_str(), r->DevName, sinkName, long(id));
    if (!recordingSide && d->nPltDev != 0)
        LiveViewHost()->AppendRcvStatus(d->DevId, d, slot, d->UseP2P == 0 ? 1 : 0, GetTickCount());
    return 0;
}

int CVideoWnd::AddWatch(DeviceInfo* r, int keepOld)
{
    if (!r || !r->pRtspEvent1 || !r->pRtspEvent2)
        return -1;
    if (LiveViewHost()->IsLoginServerMode() && r->DevSN[0] == 0 && r->VisitMod == 2)
        return -1;
    DeviceInfo* d = FindListed(*r);
    if (!d) {
        // A record that is not listed has no stream to show.
        WriteLog(3, "CVideoWnd::AddWatch(): device not in the list, refused. DevName=%s", r->DevName);
        return -1;
    }
    // R may be this pane's own copy: keep what the steps below read.
    DeviceInfo req = *r;
    if ((m_bWatching || m_bRelayOn) && keepOld == 0) {
        if (m_bRelayOn)
            CloseRelayVideo();
        ClearWatchInfo();
    }

    std::string url, name;
    d->WatchStreamType = Eq(req.Resolution, "cif") ? 0 : 1;
    CRtspEvents* e1 = d->pRtspEvent1;
    CRtspEvents* e2 = d->pRtspEvent2;
    const int choice = d->WatchStreamType;
    bool attached = false;

    // 5. The stream is shown already: take it over.
    if (d->WatchFlag && (Eq(d->Resolution, req.Resolution) || Eq(d->AlarmRes, req.Resolution))) {
        CRtspEvents* s = nullptr;
        if (e1->GetStreamId() != 0 && e1->GetStreamType() == choice)
            s = e1;
        else if (e2->GetStreamId() != 0 && e2->GetStreamType() == choice)
            s = e2;
        if (s) {
            if (m_bAlarmPane) {
                s->CreateAlarmActPlayer(m_pRenderArea);
                qelm::CopyBounded(d->AlarmRes, sizeof d->AlarmRes, req.Resolution);
            } else {
                CVideoWnd* owner = nullptr;
                if (CStreamPlayerCtrl* main = s->GetMainRender())
                    owner = FromRenderArea(main->GetParent());
                if (owner && owner != this && !owner->m_bAlarmPane && owner->m_bTalkOn) {
                    owner->ToggleSpeak();
                    LiveViewHost()->SetTalkButtonImage(kImgTalkOff);
                }
                s->DisplayMediaStream(m_pRenderArea, keepOld == 0 ? 1 : 0);
            }
            attached = true;
        }
        // No sink carries it (it closed meanwhile): open it as below.
    }

    if (!attached && d->RecFlag != 0) {
        // 6. A recording runs: show its stream, or open the other one.
        if ((d->DevType == 1 || d->DevType == 4) && choice == d->CurStreamType) {
            const bool first = e1->IsRecording();
            CRtspEvents* s = first ? e1 : e2;
            WriteLog(6, first ? " CVideoWnd::AddWatch(): RtspEvent1 open media render. DevName=%s"
                              : " CVideoWnd::AddWatch(): RtspEvent2 open media render. DevName=%s",
                     d->DevName);
            s->DisplayMediaStream(m_pRenderArea, 0);
            s->SetZoomMode(m_nZoomMode);
            attached = true;
        } else if (d->DevType == 1 || d->DevType == 4) {
            if (!BuildPaneStreamUrl(req, true, url, name)) {
                WriteLog(3, "CVideoWnd::AddWatch(): no stream address, DevName=%s", req.DevName);
                return -1;
            }
            const int slot = e1->GetStreamType() == -1 ? 1 : 2;
            if (OpenNewStream(d, &req, slot == 1 ? e1 : e2, slot, url, name.c_str(), nullptr, true) != 0)
                return -1;
            (slot == 1 ? e1 : e2)->SetDeviceType(d->DevType);
            attached = true;
        } else {
            CRtspEvents* s = e1->IsRecording() ? e1 : (e2->IsRecording() ? e2 : nullptr);
            if (s) {
                WriteLog(6, s == e1 ? "CVideoWnd::AddWatch(): RtspEvent1 open media render. DevName=%s"
                                    : "CVideoWnd::AddWatch(): RtspEvent2 open media render. DevName=%s",
                         d->DevName);
                s->DisplayMediaStream(m_pRenderArea, 0);
                s->SetZoomMode(m_nZoomMode);
                attached = true;
            }
        }
    }

    if (!attached) {
        // 7. An open stream of the wanted kind (kept for a relay client or
        // the alarm pane) is shown; else a new one is opened.
        for (int slot = 1; slot <= 2 && !attached; ++slot) {
            CRtspEvents* s = slot == 1 ? e1 : e2;
            if (s->GetStreamId() != 0 && s->GetStreamType() == choice) {
                WriteLog(6, slot == 1 ? "CVideoWnd::AddWatch(): RtspEvent1 open media render. DevName=%s"
                                      : "CVideoWnd::AddWatch(): RtspEvent2 open media render. DevName=%s",
                         d->DevName);
                s->DisplayMediaStream(m_pRenderArea, 0);
                s->SetZoomMode(m_nZoomMode);
                attached = true;
            }
        }
    }

    if (!attached) {
        const bool haveUrl = BuildPaneStreamUrl(req, false, url, name);
        StreamProfile profile{};
        const bool onvif = d->OnvifDev == 1;
        if (onvif) {
            const int index = Eq(req.Resolution, "cif") ? 1 : 0;
            const int count = d->OnvifInfo.ProfileCount;
            const int used = index < count && index < 4 ? index : 0;
            const bool missing = count <= 0 || d->OnvifInfo.Profiles[used].StreamUri[0] == 0;
            if (missing)
                OVF_GetDevInfo(d->OnvifSerAddr, d->LoginName, d->LoginPsw, &d->OnvifInfo);
            GetOnvifStreamProfile(&d->OnvifInfo, index, &profile);
            const size_t n = strnlen(profile.uri, sizeof profile.uri);
            url.assign(profile.uri, n < sizeof profile.uri ? n : 0);
        }
        if ((!onvif && !haveUrl) || (onvif && url.empty())) {
            WriteLog(3, "CVideoWnd::AddWatch(): no stream address, DevName=%s", req.DevName);
            return -1;
        }
        // 9. The sink for the new stream.
        int slot = e1->GetStreamId() == 0 ? 1 : (e2->GetStreamId() == 0 ? 2 : 1);
        CRtspEvents* s = slot == 1 ? e1 : e2;
        if (s->GetStreamId() != 0) {
            // Both sinks busy: the first one's stream is closed before it
            // carries the new one, so nothing is left running unseen.
            if (CStreamPlayerCtrl* main = s->GetMainRender())
                if (CVideoWnd* owner = FromRenderArea(main->GetParent()); owner && owner != this)
                    owner->ResetWatchInfo();
            WriteLog(6, "CVideoWnd::AddWatch(): both streams busy, close stream id=%d, DevName=%s",
                     int(s->GetStreamId()), d->DevName);
            s->CloseAlarmActPlayer();
            s->CloseAllDecoder();
            s->DeleteStream();
            d->StreamId1 = 0;
        }
        if (OpenNewStream(d, &req, s, slot, url, name.c_str(), onvif ? &profile : nullptr, false) != 0)
            return -1;
        s->SetDeviceType(d->DevType);
    }

    // 11. Common end.
    if (m_bAlarmPane)
        qelm::CopyBounded(d->AlarmRes, sizeof d->AlarmRes, req.Resolution);
    else
        qelm::CopyBounded(d->Resolution, sizeof d->Resolution, req.Resolution);
    m_DevInfo = *d;
    d->WatchFlag = 1;
    LiveViewHost()->UpdateDevTreeStatus();
    m_bWatching = 1;
    return 0;
}

int CVideoWnd::StopWatch(int refresh)
{
    if (!m_bWatching)
        return -1;
    if (m_bTalkOn)
        ToggleSpeak();
    WriteLog(6, "CVideoWnd::StopWatch(): Stop watch, DevName=%s", m_DevInfo.DevName);
    StopManualRec();
    if (DeviceInfo* d = FindByNameAndSinks()) {
        if (d->nPltDev != 0)
            LiveViewHost()->FlushRcvStatus(d->DevId);
        CRtspEvents* sinks[2] = {d->pRtspEvent1, d->pRtspEvent2};
        if (m_bAlarmPane) {
            for (int i = 0; i < 2; ++i) {
                CRtspEvents* s = sinks[i];
                if (!s->GetAlarmRender())
                    continue;
                if (!s->GetMainRender() && !s->IsRelayFeeding()) {
                    s->DeleteStream();
                    (i == 0 ? d->StreamId1 : d->StreamId2) = 0;
                    d->WatchFlag = 0;
                }
                s->CloseAlarmActPlayer();
                m_bSoundOn = m_bTalkOn = m_bWatching = 0;
                m_DevInfo = DeviceInfo{};
                LiveViewHost()->UpdateDevTreeStatus();
                if (m_pRenderArea)
                    m_pRenderArea->Invalidate();
                return 0;
            }
        }
        for (int i = 0; i < 2; ++i) {
            CRtspEvents* s = sinks[i];
            if (!s->IsRenderMedia())
                continue;
            if (!s->IsRecording()) {
                WriteLog(6, i == 0 ? "CVideoWnd::StopWatch(): RtspEvent1 Stop decoder delete stream id=%d, DevName=%s"
                                   : "CVideoWnd::StopWatch(): pRtspEvent2 Stop decoder delete stream id=%d, DevName=%s",
                         int(s->GetStreamId()), d->DevName);
                if (!s->GetAlarmRender() && !s->IsRelayFeeding()) {
                    s->DeleteStream();
                    (i == 0 ? d->StreamId1 : d->StreamId2) = 0;
                }
                s->CloseAllDecoder();
                if (i == 1)
                    d->StreamId2 = 0;
            } else {
                s->SetMediaRenderMod(m_pRenderArea, 0);
                WriteLog(6, i == 0 ? "CVideoWnd::StopWatch(): pRtspEvent1 close media render."
                                   : "CVideoWnd::StopWatch(): pRtspEvent2 close media render.");
            }
        }
        if (!sinks[0]->GetAlarmRender() && !sinks[1]->GetAlarmRender())
            d->WatchFlag = 0;
        if (refresh)
            LiveViewHost()->UpdateDevTreeStatus();
        if (m_pRenderArea)
            m_pRenderArea->Invalidate();
    }
    m_bSoundOn = m_bTalkOn = m_bWatching = 0;
    LiveViewHost()->ClearPresetCombos();
    m_DevInfo = DeviceInfo{};
    m_bAutoSwitchAllowed = 1;
    return 0;
}

int CVideoWnd::ClearWatchInfo()
{
    WriteLog(6, "CVideoWnd::ClearWatchInfo(): clear watch info, DevName=%s", m_DevInfo.DevName);
    StopManualRec();
    if (m_bTalkOn)
        ToggleSpeak();
    if (m_bSoundOn)
        OpenSound();
    DeviceInfo* d = FindListed(m_DevInfo);
    if (d && d->pRtspEvent1 && d->pRtspEvent2) {
        CRtspEvents* sinks[2] = {d->pRtspEvent1, d->pRtspEvent2};
        if (m_bAlarmPane) {
            if (sinks[0]->GetAlarmRender())
                sinks[0]->CloseAlarmActPlayer();
            else if (sinks[1]->GetAlarmRender())
                sinks[1]->CloseAlarmActPlayer();
            m_bSoundOn = m_bTalkOn = m_bWatching = 0;
            if (m_pRenderArea)
                m_pRenderArea->Invalidate();
            return 0;
        }
        for (int i = 0; i < 2; ++i) {
            CRtspEvents* s = sinks[i];
            if (!s->IsRenderMedia())
                continue;
            if (!s->IsRecording()) {
                WriteLog(6, i == 0 ? "CVideoWnd::ClearWatchInfo(): RtspEvent1 Stop decoder delete stream id=%d, DevName=%s"
                                   : "CVideoWnd::ClearWatchInfo(): RtspEvent2 Stop decoder delete stream id=%d, DevName=%s",
                         int(s->GetStreamId()), d->DevName);
                const bool keep = s->GetAlarmRender() || s->IsRelayFeeding();
                if (!keep)
                    s->DeleteStream();
                s->CloseAllDecoder();
                if (!keep)
                    (i == 0 ? d->StreamId1 : d->StreamId2) = 0;
            } else {
                s->SetMediaRenderMod(m_pRenderArea, 0);
                WriteLog(6, i == 0 ? "CVideoWnd::ClearWatchInfo(): pRtspEvent1 close media render."
                                   : "CVideoWnd::ClearWatchInfo(): pRtspEvent2 close media render.");
            }
        }
        if (!sinks[0]->GetAlarmRender() && !sinks[1]->GetAlarmRender())
            d->WatchFlag = 0;
        LiveViewHost()->UpdateDevTreeStatus();
    }
    if (m_pRenderArea)
        m_pRenderArea->Invalidate(FALSE);
    m_bSoundOn = m_bTalkOn = m_bWatching = 0;
    return 0;
}

int CVideoWnd::ResetWatchInfo()
{
    if (m_pRenderArea)
        m_pRenderArea->Invalidate();
    m_bSoundOn = m_bTalkOn = m_bWatching = 0;
    m_DevInfo = DeviceInfo{};
    return 0;
}

int CVideoWnd::ReleaseWithoutWait()
{
    if (!m_bWatching)
        return -1;
    DeviceInfo* d = FindByNameAndSinks();
    if (!d)
        return 0;
    if (d->pRtspEvent1->IsRenderMedia() && !d->pRtspEvent1->IsRecording()) {
        WriteLog(6, "CVideoWnd:RtspEvent1 release without wait stream id=%d, DevName=%s",
                 int(d->pRtspEvent1->GetStreamId()), d->DevName);
        d->pRtspEvent1->ReleaseWithoutWait();
    }
    if (d->pRtspEvent2->IsRenderMedia() && !d->pRtspEvent2->IsRecording()) {
        WriteLog(6, "CVideoWnd:pRtspEvent2 release without wait stream id=%d, DevName=%s",
                 int(d->pRtspEvent2->GetStreamId()), d->DevName);
        d->pRtspEvent2->ReleaseWithoutWait();
    }
    return 0;
}

int CVideoWnd::ApplyFullDisplay()
{
    if (!m_bWatching && !m_bRelayOn)
        return -1;
    if (DeviceInfo* d = m_bWatching ? FindListed(m_DevInfo) : nullptr)
        for (CRtspEvents* s : {d->pRtspEvent1, d->pRtspEvent2})
            if (s && s->GetStreamId() != 0)
                s->SetFullDisplay(g_DispInfoSetting.FilpMode);
    return 0;
}

int CVideoWnd::ApplyShowLastFrame()
{
    if (!m_bWatching && !m_bRelayOn)
        return -1;
    if (DeviceInfo* d = m_bWatching ? FindListed(m_DevInfo) : nullptr)
        for (CRtspEvents* s : {d->pRtspEvent1, d->pRtspEvent2})
            if (s && s->GetStreamId() != 0)
                s->SetShowLastFrame();
    return 0;
}

int CVideoWnd::CloseRelayVideo()
{
    if (!m_bRelayOn)
        return -1;
    ClearRelayInfo();
    return 0;
}

void CVideoWnd::ClearRelayInfo()
{
    m_bRelayOn = 0;
    m_bRelaySound = 0;
    m_RelayNode = RelayDevItem{};
    m_nRelayStreamType = -1;
    m_nRelayChannel = -1;
    m_bAutoSwitchAllowed = 1;
}
