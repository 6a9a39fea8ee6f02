// CVideoManagerDlg: which pane shows what, the panes reopened at start, stops
// and swapping panes by drag and drop.
#include "liveview/video_manager_dlg.h"

#include "core/log.h"
#include "core/recover.h"
#include "core/userinfo.h"
#include "liveview/live_view_host.h"
#include "liveview/video_wnd_coord.h"
#include "platform/text.h"

#include <cstring>

namespace {
bool Eq(const char* a, const char* b) { return std::strcmp(a, b) == 0; }
bool SameDevice(const DeviceInfo& a, const DeviceInfo& b) { return Eq(a.DevName, b.DevName) && Eq(a.DevId, b.DevId); }
} // namespace

int CVideoManagerDlg::FirstFreePane(int from) const
{
    for (int i = from; i < m_nShownCount && i < kPaneCount; ++i)
        if (m_pVideoWnd[i] && m_pVideoWnd[i]->IsFree())
            return i;
    return -1;
}

int CVideoManagerDlg::AddWatch(int index, DeviceInfo* r, int saveRecover, int moveToFreePane, int keepOld, int,
                               int checkRange, int autoMainStream)
{
    if (checkRange && index > m_nShownCount - 1)
        return -100;
    if (index < 0 || index >= kPaneCount || !r || !m_pVideoWnd[index])
        return -1;
    const int count = m_nShownCount;
    if (autoMainStream && r->nPltDev == 0 && (count == 1 || count == 4 || count == 6 || count == 8)) {
        for (CVideoWnd* pane : m_pVideoWnd)
            if (pane && pane->IsWatching() && Eq(pane->DevCopy().DevName, r->DevName)) {
                pane->ClearWatchInfo();
                break;
            }
        if (g_DispInfoSetting.AutoSwitchStream)
            r->Resolution[0] = 0;
    }
    if (count != 1 && moveToFreePane && index == m_nSelected && !m_pVideoWnd[index]->IsFree()) {
        int free = FirstFreePane(m_nSelected);
        if (free < 0)
            free = FirstFreePane(0);
        if (free >= 0)
            index = free;
    }
    if (m_bSoundOn)
        OnSound();
    CVideoWnd* target = m_pVideoWnd[index];
    if (target->IsManualRecord())
        target->StopManualRec();
    const DeviceInfo want = *r;   // r may be a pane's copy that the stops below clear
    for (int i = 0; i < kPaneCount; ++i) {
        CVideoWnd* pane = m_pVideoWnd[i];
        if (!pane)
            continue;
        if (i != index && pane->IsManualRecord() && SameDevice(pane->DevCopy(), want)) {
            pane->StopManualRec();
            break;
        }
        if (moveToFreePane && pane->IsWatching() && SameDevice(pane->DevCopy(), want))
            pane->StopWatch(1);
    }
    ILiveViewHost* host = LiveViewHost();
    host->SetRecordButton(kImgRecordOff, kStrRecordStart);
    if (IsPatrolActive(index))
        StopPatrol(index);
    host->SetPatrolButtonImage(kImgPatrolOff);
    if (CVideoWnd* sel = GetPane(m_nSelected))
        sel->SetSelected(0);
    target->SetSelected(1);
    m_nSelected = index;
    host->SetActiveVideoMgr(this);
    if (m_bTalkOn)
        OnSpeak();
    DeviceInfo req = want;
    const int ret = target->AddWatch(&req, keepOld);
    if (ret == 0 && saveRecover) {
        SaveSurStatus();
        SaveRecoverInfo();
    }
    return ret;
}

int CVideoManagerDlg::HasFreeWnd()
{
    if (CVideoWnd* sel = GetPane(m_nSelected); sel && sel->IsFree())
        return 1;
    return FirstFreePane(0) >= 0 ? 1 : 0;
}

int CVideoManagerDlg::SaveSurStatus()
{
    g_lstSurStatus.remove_if([this](const SurStauts& s) { return s.MonitorNum == m_nMonitorNum; });
    // A stored layout that is none of the twelve still saves at most the 64 panes.
    const int layout = m_nDisplayMode < 0 ? 0 : (m_nDisplayMode > kPaneCount ? kPaneCount : m_nDisplayMode);
    for (int i = 0; i < layout; ++i) {
        CVideoWnd* pane = m_pVideoWnd[i];
        if (!pane || !pane->IsWatching())
            continue;
        SurStauts s{};
        s.WndNo = i;
        qelm::CopyBounded(s.DevId, sizeof s.DevId, pane->DevCopy().DevId);
        qelm::CopyBounded(s.DevName, sizeof s.DevName, pane->DevCopy().DevName);
        s.MonitorNum = m_nMonitorNum;
        s.DispMode = m_nDisplayMode;
        g_lstSurStatus.push_back(s);
    }
    return 0;
}

int CVideoManagerDlg::RecoverSurveillance()
{
    WriteLog(6, "CVideoManagerDlg: Recover recently surveillance status.");
    int layout = g_DispInfoSetting.DefDisplayMode;
    // Entries are copied first: a placement saves and rewrites the list.
    const std::list<SurStauts> entries = g_lstSurStatus;
    for (const SurStauts& s : entries) {
        if (s.MonitorNum != m_nMonitorNum)
            continue;
        DeviceInfo* d = nullptr;
        for (DeviceInfo& e : g_lstDevInfo)
            if (Eq(e.DevId, s.DevId) && Eq(e.DevName, s.DevName)) {
                d = &e;
                break;
            }
        if (!d)
            continue;
        // Values from the file: a pane number or layout outside the grid is skipped.
        if (s.WndNo < 0 || s.WndNo >= kPaneCount || !CVideoWndCoord::IsLayout(s.DispMode)) {
            WriteLog(3, "CVideoManagerDlg: Recover entry out of range, WndNo=%d, DispMode=%d, DevName=%s",
                     int(s.WndNo), int(s.DispMode), d->DevName);
            continue;
        }
        m_nShownCount = s.DispMode;
        layout = s.DispMode;
        if (d->DevType == 1)
            qelm::CopyBounded(d->Resolution, sizeof d->Resolution, d->DefRes);
        AddWatch(s.WndNo, d, 0, 0, 0, 1, 0, 1);
    }
    SetDisplayMode(layout, 0, 0);
    return 0;
}

int CVideoManagerDlg::StopWatch(int index, int refresh)
{
    CVideoWnd* pane = GetPane(index);
    if (!pane)
        return -1;
    const int ret = pane->StopWatch(refresh);
    if (ret == 0) {
        SaveSurStatus();
        SaveRecoverInfo();
    }
    return ret;
}

int CVideoManagerDlg::StopSelectedWatch()
{
    CVideoWnd* pane = GetPane(m_nSelected);
    if (!pane)
        return -1;
    if (m_bTalkOn)
        OnSpeak();
    if (m_bSoundOn)
        OnSound();
    ILiveViewHost* host = LiveViewHost();
    if (IsPatrolActive(m_nSelected)) {
        StopPatrol(m_nSelected);
        host->SetPatrolButtonImage(kImgPatrolOff);
    }
    if (pane->IsManualRecord()) {
        pane->StopManualRec();
        host->SetRecordButton(kImgRecordOff, kStrRecordStart);
    }
    pane->CloseRelayVideo();
    const int ret = pane->StopWatch(1);
    if (ret == 0) {
        SaveSurStatus();
        SaveRecoverInfo();
    }
    return ret;
}

int CVideoManagerDlg::RemoveAllWatch()
{
    WriteLog(6, "CVideoManagerDlg: Begin remove all watch.");
    ILiveViewHost* host = LiveViewHost();
    if (m_bTalkOn) {
        for (CVideoWnd* pane : m_pVideoWnd)
            if (pane && pane->IsTalkOn()) {
                WriteLog(6, "RemoveAllWatch(): Stop the speak, DevName=%s", pane->DevCopy().DevName);
                pane->ToggleSpeak();
                break;
            }
        m_bTalkOn = 0;
        host->SetTalkButtonImage(kImgTalkOff);
    }
    if (m_bSoundOn) {
        for (CVideoWnd* pane : m_pVideoWnd)
            if (pane && pane->IsSoundOn()) {
                WriteLog(6, "RemoveAllWatch(): Close the sound, DevName=%s", pane->DevCopy().DevName);
                pane->OpenSound();
                break;
            }
        m_bSoundOn = 0;
        host->SetSoundButtonImage(kImgSoundOff);
    }
    for (CVideoWnd* pane : m_pVideoWnd)
        if (pane)
            pane->ReleaseWithoutWait();
    for (int i = 0; i < kPaneCount; ++i) {
        CVideoWnd* pane = m_pVideoWnd[i];
        if (!pane)
            continue;
        if (IsPatrolActive(i))
            StopPatrol(i);
        pane->StopWatch(1);
        pane->CloseRelayVideo();
    }
    host->SetPatrolButtonImage(kImgPatrolOff);
    host->SetRecordButton(kImgRecordOff, kStrRecordStart);
    WriteLog(6, "CVideoManagerDlg: End remove all watch.");
    return 0;
}

CVideoWnd* CVideoManagerDlg::PaneOfWindow(CWnd* wnd, CVideoManagerDlg** grid)
{
    auto match = [wnd](CVideoWnd* pane) {
        if (!pane || !wnd)
            return false;
        // The pane, its render area, or a player window inside the area.
        if (wnd == pane)
            return true;
        CWnd* parent = wnd->GetParent();
        return parent && (parent == pane || parent->GetParent() == pane);
    };
    for (CVideoWnd* pane : m_pVideoWnd)
        if (match(pane)) {
            *grid = this;
            return pane;
        }
    return nullptr;
}

int CVideoManagerDlg::ChangeDispWnd(CWnd* source, CWnd* target)
{
    if (!source || !target || !target->GetParent())
        return 0;
    CVideoManagerDlg* dstGrid = nullptr;
    CVideoManagerDlg* srcGrid = nullptr;
    CVideoWnd* dst = PaneOfWindow(target, &dstGrid);
    CVideoWnd* src = PaneOfWindow(source, &srcGrid);
    ILiveViewHost* host = LiveViewHost();
    if (!dst)
        for (CVideoManagerDlg* g : host->ExtGrids())
            if (g && g != this && (dst = g->PaneOfWindow(target, &dstGrid)))
                break;
    if (!dst)
        if (CVideoManagerDlg* main = host->MainGrid(); main && main != this)
            dst = main->PaneOfWindow(target, &dstGrid);
    if (!dst || !src)
        return 0;
    if (m_bSoundOn)
        OnSound();
    if (dst == src || dst->IsDragging())
        return 0;
    dst->StopManualRec();
    src->StopManualRec();
    host->SetRecordButton(kImgRecordOff, kStrRecordStart);
    if (dst->IsTalkOn())
        dst->ToggleSpeak();
    if (src->IsTalkOn())
        src->ToggleSpeak();
    m_bTalkOn = 0;
    if (dstGrid)
        dstGrid->m_bTalkOn = 0;
    host->SetTalkButtonImage(kImgTalkOff);
    const int dstNo = dst->GetWndIndex(), srcNo = src->GetWndIndex();
    const std::string dstName = dst->DevCopy().DevName, srcName = src->DevCopy().DevName;
    if (!dst->IsFree()) {
        if (dst->IsWatching() && src->IsWatching()) {
            DeviceInfo dstDev = dst->DevCopy();
            DeviceInfo srcDev = src->DevCopy();
            dstGrid->AddWatch(dstNo, &srcDev, 1, 0, 1, 0, 0, 0);
            srcGrid->AddWatch(srcNo, &dstDev, 1, 0, 1, 0, 0, 0);
        } else if (dst->IsRelayOn() && src->IsWatching()) {
            DeviceInfo srcDev = src->DevCopy();
            dst->ClearRelayInfo();
            dstGrid->AddWatch(dstNo, &srcDev, 1, 0, 1, 0, 0, 1);
            src->ResetWatchInfo();
        }
    } else if (src->IsWatching()) {
        DeviceInfo srcDev = src->DevCopy();
        dstGrid->AddWatch(dstNo, &srcDev, 1, 0, 0, 0, 0, 1);
        src->ResetWatchInfo();
        if (srcGrid != dstGrid) {
            srcGrid->SaveSurStatus();
            SaveRecoverInfo();
        }
    }
    WriteLog(6, "ChangeDispWnd: nDestNo=%d, DestDevName=%s, nSrcNo=%d, SrcDevName=%s", dstNo, dstName.c_str(), srcNo,
             srcName.c_str());
    return 0;
}

int CVideoManagerDlg::GetSelectedDevice(DeviceInfo** out)
{
    CVideoWnd* pane = GetPane(m_nSelected);
    if (!pane || !out)
        return -1;
    qelm::CsLock lock(g_csDevList);
    for (DeviceInfo& d : g_lstDevInfo)
        if (Eq(d.DevId, pane->DevCopy().DevId)) {
            *out = &d;
            return 0;
        }
    return -1;
}
