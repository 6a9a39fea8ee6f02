// CVideoWnd: sound, talk, snapshot, manual recording, stream switches, flip
// and PTZ commands of one pane.
#include "liveview/video_wnd.h"

#include "core/log.h"
#include "liveview/live_view_host.h"
#include "liveview/video_manager_dlg.h"
#include "media/rtsp_events.h"
#include "platform/text.h"

#include <cstdio>
#include <cstring>

namespace {
bool Eq(const char* a, const char* b) { return std::strcmp(a, b) == 0; }
} // namespace

CRtspEvents* CVideoWnd::RenderingSink() const
{
    // Only sinks of a record still in the list are touched.
    DeviceInfo* d = FindListed(m_DevInfo);
    if (!d)
        return nullptr;
    if (d->pRtspEvent1 && d->pRtspEvent1->IsRenderMedia())
        return d->pRtspEvent1;
    if (d->pRtspEvent2 && d->pRtspEvent2->IsRenderMedia())
        return d->pRtspEvent2;
    return nullptr;
}

int CVideoWnd::SinkSoundOn(CRtspEvents* s, bool on) const
{
    if (!s)
        return 0;
    if (m_bAlarmPane)
        return on ? s->OpenAlarmPaneSound() : s->CloseAlarmPaneSound();
    if (m_bMapPane)
        return on ? s->OpenMapPaneSound() : s->CloseMapPaneSound();
    return on ? s->OpenSound() : s->CloseSound();
}

int CVideoWnd::OpenSound()
{
    if (!m_bWatching && !m_bRelayOn)
        return -1;
    if (m_bRelayOn)
        return 0;   // relay video carries no player of its own here
    if (m_bSoundOn) {
        const int err = SinkSoundOn(RenderingSink(), false);
        if (err != 0) {
            WriteLog(3, "CVideoWnd::OpenSound(): close sound failed, error=%d, DevName=%s", err, m_DevInfo.DevName);
            return err;
        }
        m_bSoundOn = 0;
        WriteLog(6, "CVideoWnd::OpenSound(): close sound success, DevName=%s", m_DevInfo.DevName);
        return 0;
    }
    const int err = SinkSoundOn(RenderingSink(), true);
    if (err != 0) {
        WriteLog(3, "CVideoWnd::OpenSound(): open sound failed, error=%d, DevName=%s", err, m_DevInfo.DevName);
        return err;
    }
    m_bSoundOn = 1;
    WriteLog(6, "CVideoWnd::OpenSound(): open sound success, DevName=%s", m_DevInfo.DevName);
    return 0;
}

int CVideoWnd::ToggleSpeak()
{
    if (!m_bWatching)
        return -1;
    DeviceInfo* d = FindListed(m_DevInfo);
    CRtspEvents* e1 = d ? d->pRtspEvent1 : nullptr;
    CRtspEvents* e2 = d ? d->pRtspEvent2 : nullptr;
    const int streamId = e1 && e1->IsRenderMedia() ? m_DevInfo.StreamId1 : m_DevInfo.StreamId2;
    CRtspPullCtrl* pull = e1 ? e1->GetPullCtrl() : nullptr;
    CAuxPtzCtrl* aux = d ? d->pAuxPtzCtrl : nullptr;
    int ret = -1;
    if (m_bTalkOn) {
        if (m_DevInfo.nPltDev == 1) {
            ret = pull ? pull->Speak(streamId, 0) : -1;
            m_bTalkOn = 0;
        } else {
            ret = aux ? aux->Speak(m_DevInfo.AuxPtzId, 0) : -1;
        }
        WriteLog(6, "CVideoWnd: Request stop speak, DevName=%s, auxPtzId=%ld, ret=%d", m_DevInfo.DevName,
                 long(m_DevInfo.AuxPtzId), ret);
        if (CRtspEvents* s = RenderingSink()) {
            SinkSoundOn(s, false);
            s->SetSpeakStatus(0);
            WriteLog(6, s == e1 ? "CVideoWnd: RtspEvent1 close player sound, DevName=%s, auxPtzId=%ld"
                                : "CVideoWnd: RtspEvent2 close player sound, DevName=%s, auxPtzId=%ld",
                     m_DevInfo.DevName, long(m_DevInfo.AuxPtzId));
        }
        if (m_DevInfo.DevType == 4)
            LiveViewHost()->ReleaseAudioCodec(0);
        m_bTalkPending = 0;
        m_bSoundOn = 0;
        return ret;
    }
    (void)e2;
    if (m_DevInfo.nPltDev == 1) {
        if (!m_bSoundOn) {
            OpenSound();
            m_bSoundOn = 1;
        }
        ret = pull ? pull->Speak(streamId, 1) : -1;
        m_bTalkOn = 1;
    } else {
        ret = aux ? aux->Speak(m_DevInfo.AuxPtzId, 1) : -1;
    }
    m_bTalkPending = 1;
    WriteLog(6, "CVideoWnd: Request start speak , DevName=%s, auxPtzId=%ld, ret=%d", m_DevInfo.DevName,
             long(m_DevInfo.AuxPtzId), ret);
    return ret;
}

void CVideoWnd::SetSpeakStatus(int nValue)
{
    WriteLog(6, "CVideoWnd: set speak status, nValue=%d, DevName=%s", nValue, m_DevInfo.DevName);
    DeviceInfo* d = FindListed(m_DevInfo);
    CRtspEvents* e1 = d ? d->pRtspEvent1 : nullptr;
    if (nValue != 0 && !m_bTalkOn && m_bTalkPending) {
        CRtspEvents* s = RenderingSink();
        SinkSoundOn(s, true);
        m_bTalkOn = 1;
        if (s) {
            s->SetSpeakStatus(1);
            WriteLog(6, s == e1 ? "CVideoWnd: RtspEvent1 start speak success, DevName=%s, auxPtzId=%ld"
                                : "CVideoWnd: RtspEvent2 start speak success, DevName=%s, auxPtzId=%ld",
                     m_DevInfo.DevName, long(m_DevInfo.AuxPtzId));
        }
    } else if (nValue == 0 && m_bTalkOn) {
        m_bTalkOn = 0;
        CRtspEvents* s = RenderingSink();
        SinkSoundOn(s, false);
        if (s) {
            s->SetSpeakStatus(0);
            WriteLog(6, s == e1 ? "CVideoWnd: RtspEvent1 close speak sound, DevName=%s, auxPtzId=%ld"
                                : "CVideoWnd: RtspEvent2 close speak sound, DevName=%s, auxPtzId=%ld",
                     m_DevInfo.DevName, long(m_DevInfo.AuxPtzId));
        }
    }
    m_bTalkPending = 0;
}

int CVideoWnd::SnapShot(const char* folder)
{
    if (!m_bWatching && !m_bRelayOn) {
        WriteLog(6, "Action: SnapShot refused. the select window is NULL.");
        return -1;
    }
    if (m_bRelayOn)
        return -1;
    int ret;
    DeviceInfo* d = FindListed(m_DevInfo);
    if (d && d->pRtspEvent1 && d->pRtspEvent1->IsRenderMedia())
        ret = d->pRtspEvent1->SnapShot(folder);
    else if (d && d->pRtspEvent2 && d->pRtspEvent2->IsRenderMedia())
        ret = d->pRtspEvent2->SnapShot(folder);
    else {
        WriteLog(3, "Action SnapShot failed. RtspEvent is NULL.");
        return -1;
    }
    if (ret != 0)
        WriteLog(3, "Action SnapShot failed. DeviceName = %s", m_DevInfo.DevName);
    else
        WriteLog(6, "Action SnapShot Success. DeviceName = %s", m_DevInfo.DevName);
    return ret;
}

namespace {
DeviceInfo* FindRecordRow(const DeviceInfo& c)
{
    for (DeviceInfo& d : g_lstDevInfo) {
        if (c.DevType == 4 && d.DevType == 4 && Eq(d.DevId, c.DevId) && Eq(d.DevName, c.DevName))
            return &d;
        if (c.DevType == 1 && d.DevType == 1 && Eq(d.DevId, c.DevId))
            return &d;
    }
    return nullptr;
}
} // namespace

int CVideoWnd::StartManualRec(const char* folder)
{
    if (!m_bWatching)
        return -1;
    m_szRecordFolder[0] = 0;
    DeviceInfo* d = FindRecordRow(m_DevInfo);
    if (!d || !folder)
        return 0;
    CRtspEvents* s = nullptr;
    if (d->pRtspEvent1 && d->pRtspEvent1->GetStreamId() != 0 && d->pRtspEvent1->GetMainRender())
        s = d->pRtspEvent1;
    else if (d->pRtspEvent2 && d->pRtspEvent2->GetStreamId() != 0 && d->pRtspEvent2->GetMainRender())
        s = d->pRtspEvent2;
    if (!s)
        return 0;
    const char* sinkName = s == d->pRtspEvent1 ? "pRtspEvent1" : "pRtspEvent2";
    const int32_t fileId = s->StartManualRecord(folder);
    if (fileId <= 0) {
        WriteLog(3, "CVideoWnd::StartManualRec: DevName=%s, %s start manual record failed. fileid=%ld", d->DevName,
                 sinkName, long(fileId));
        return fileId;
    }
    qelm::CopyBounded(m_szRecordFolder, sizeof m_szRecordFolder, folder);
    m_bManualRecord = 1;
    WriteLog(6, "CVideoWnd::StartManualRec: DevName=%s, %s start manual record success. fileid=%ld, SavePath=%s",
             d->DevName, sinkName, long(fileId), folder);
    return fileId;
}

int CVideoWnd::StopManualRec()
{
    if (!m_bManualRecord)
        return 0;
    DeviceInfo* d = FindRecordRow(m_DevInfo);
    if (!d) {
        m_bManualRecord = 0;
        return 0;
    }
    for (int i = 0; i < 2; ++i) {
        CRtspEvents* s = i == 0 ? d->pRtspEvent1 : d->pRtspEvent2;
        if (s && s->GetStreamId() != 0 && s->IsManualRecording()) {
            s->StopManualRecord();
            WriteLog(6, i == 0 ? "CVideoWnd::StopManualRec: DevName=%s, pRtspEvent1 stop manual record success."
                               : "CVideoWnd::StopManualRec: DevName=%s, pRtspEvent2 stop manual record success.",
                     d->DevName);
            break;
        }
    }
    m_bManualRecord = 0;
    return 0;
}

int CVideoWnd::ReopenWithKey(const char* key)
{
    qelm::CopyBounded(m_DevInfo.Resolution, sizeof m_DevInfo.Resolution, key);
    if (m_nZoomMode != 0 && !LiveViewHost()->SetDigitalZoomMode(0)) {
        if (m_pVideoMgr)
            m_pVideoMgr->SetDigitalZoomMode(0);
        else
            SetDigitalZoomMode(0);
    }
    DeviceInfo copy = m_DevInfo;
    return AddWatch(&copy, 0);
}

int CVideoWnd::SwitchCifD1()
{
    if (m_bRelayOn) {
        m_bZoomSwitch = 0;
        return 1;
    }
    if (!m_bWatching || m_DevInfo.DevType == 0)
        return -1;
    const bool toMain = Eq(m_DevInfo.Resolution, "cif");
    WriteLog(6, toMain ? "Action: switch CIF to D1" : "Action: switch D1 to CIF");
    ReopenWithKey(toMain ? "" : "cif");
    m_bZoomSwitch = 0;
    m_bAutoSwitchAllowed = 0;
    return 0;
}

int CVideoWnd::AutoSwitchCIF()
{
    if (!m_bWatching || m_DevInfo.DevType == 0 || m_DevInfo.Resolution[0] != 0)
        return -1;
    WriteLog(6, "CVideoWnd::AutoSwitchCIF(): switch main-stream to sub-stream");
    m_bAutoSwitchedToSub = 1;
    return ReopenWithKey("cif");
}

int CVideoWnd::AutoSwitchMainStream()
{
    if (!m_bWatching) {
        WriteLog(6, "Action: switch CIF/D1 refused. the select window is NULL.");
        return -1;
    }
    if (m_DevInfo.DevType == 0 || !Eq(m_DevInfo.Resolution, "cif"))
        return -1;
    WriteLog(6, "CVideoWnd::AutoSwitchMainStream(): switch sub-stream to main-stream");
    return ReopenWithKey("");
}

int CVideoWnd::ZoomSwitchMainStream()
{
    if (m_DevInfo.nPltDev == 1)
        return 0;
    if (!m_bWatching) {
        WriteLog(6, "Action: switch CIF/D1 refused. the select window is NULL.");
        return -1;
    }
    if (m_DevInfo.DevType == 0 || !Eq(m_DevInfo.Resolution, "cif"))
        return -1;
    WriteLog(6, "CVideoWnd::AutoSwitchMainStream(): switch sub-stream to main-stream");
    m_bZoomSwitch = 1;
    return ReopenWithKey("");
}

int CVideoWnd::OnRecoverSubStream()
{
    if (!m_bZoomSwitch)
        return -1;
    WriteLog(6, "CVideoWnd::OnRecoverSubStream(): switch mian-stream to sub-stream");
    m_bZoomSwitch = 0;
    return ReopenWithKey("cif");
}

int CVideoWnd::RestoreMainStream()
{
    if (!m_bWatching || m_DevInfo.DevType == 0 || !m_bAutoSwitchedToSub)
        return -1;
    WriteLog(6, "Action: switch cif to D1");
    m_bAutoSwitchedToSub = 0;
    const int ret = ReopenWithKey("");
    if (ret == 0) {
        CVideoManagerDlg* main = LiveViewHost()->MainGrid();
        if (main && main->GetSelectedIndex() == m_nWndIndex) {
            main->ClearTalkSoundFlags();
            LiveViewHost()->SetTalkButtonImage(kImgTalkOff);
            LiveViewHost()->SetSoundButtonImage(kImgSoundOff);
        }
    }
    return ret;
}

int CVideoWnd::OnVideoFlip()
{
    for (DeviceInfo& d : g_lstDevInfo) {
        if (!Eq(d.DevName, m_DevInfo.DevName))
            continue;
        if (d.pRtspEvent1 && d.pRtspEvent1->GetStreamId() != 0)
            d.pRtspEvent1->VideoFlip();
        else if (d.pRtspEvent2 && d.pRtspEvent2->GetStreamId() != 0)
            d.pRtspEvent2->VideoFlip();
        break;
    }
    return 0;
}

int CVideoWnd::SendPtzCmd(const char* cmd)
{
    DeviceInfo* d = m_bWatching ? FindListed(m_DevInfo) : nullptr;
    if (!cmd || !d || !m_DevInfo.pAuxPtzCtrl) {
        WriteLog(6, "Action: ptz action refused. the select window is NULL.");
        return -1;
    }
    std::string text;
    if (m_DevInfo.DevType == 4) {
        char prefix[48];
        const int n = std::snprintf(prefix, sizeof prefix, "<channelid>%d</channelid>\n", int(m_DevInfo.CurNVRChannel) - 1);
        if (n < 0 || static_cast<size_t>(n) + std::strlen(cmd) >= kPtzBufSize) {
            // The command and its channel prefix do not fit the command buffer.
            WriteLog(3, "Action: ptz action refused. command too long, DevName=%s", m_DevInfo.DevName);
            return -1;
        }
        text.assign(prefix, static_cast<size_t>(n));
        text += cmd;
    } else {
        if (std::strlen(cmd) >= kPtzBufSize) {
            WriteLog(3, "Action: ptz action refused. command too long, DevName=%s", m_DevInfo.DevName);
            return -1;
        }
        text = cmd;
    }
    int ret = 0;
    if (m_DevInfo.VisitMod == 3) {
        for (CRtspEvents* s : {d->pRtspEvent1, d->pRtspEvent2})
            if (s && s->IsRenderMedia() && s->GetPullCtrl())
                ret = s->GetPullCtrl()->SendPtzCommand(s == d->pRtspEvent1 ? m_DevInfo.StreamId1 : m_DevInfo.StreamId2,
                                                       text.c_str());
    } else {
        ret = m_DevInfo.pAuxPtzCtrl->PtzControl(m_DevInfo.AuxPtzId, text.c_str());
    }
    WriteLog(6, ret == 0 ? "Action: ptz action success, DevName=%s, PtzCmd=%s"
                         : "Action: ptz action failed, DevName=%s, PtzCmd=%s",
             m_DevInfo.DevName, cmd);
    return ret;
}

void CVideoWnd::SetDigitalZoomMode(int mode)
{
    m_nZoomMode = mode;
    if (DeviceInfo* d = m_bWatching ? FindListed(m_DevInfo) : nullptr)
        for (CRtspEvents* s : {d->pRtspEvent1, d->pRtspEvent2})
            if (s && s->IsRenderMedia())
                s->SetZoomMode(mode);
}
