// CVideoManagerDlg: talk, sound, snapshot, manual recording and PTZ commands
// of the selected pane, with the rules that span the grid's panes.
#include "liveview/video_manager_dlg.h"

#include "core/helpers.h"
#include "core/log.h"
#include "core/userinfo.h"
#include "liveview/live_view_host.h"
#include "media/sink_targets.h"
#include "platform/clock.h"
#include "platform/message.h"
#include "platform/text.h"
#include "res/strings.h"
#include "ui/res_msg_dlg.h"

#include <QThread>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

bool Eq(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

DeviceInfo* FindById(const char* devId)
{
    for (DeviceInfo& d : g_lstDevInfo)
        if (Eq(d.DevId, devId))
            return &d;
    return nullptr;
}

std::string WithSeparator(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

std::string BaseFolder(const char* sub)
{
    std::string base = LiveViewHost()->SavePath();
    if (base.empty())
        base = GetAppDir() + sub;
    return WithSeparator(base);
}

} // namespace

int CVideoManagerDlg::OnSpeak()
{
    CVideoWnd* pane = GetPane(m_nSelected);
    if (!pane)
        return -1;
    if (DeviceInfo* d = FindById(pane->DevCopy().DevId)) {
        pane->DevCopy().Online = d->Online;
        if (d->Online == 0) {
            WriteLog(6, "CVideoManagerDlg::OnSpeak: the DevName=%s  offline, speak refuse!", d->DevName);
            return -1;
        }
    }
    for (CVideoWnd* other : m_pVideoWnd)
        if (other && other != pane && other->IsTalkOn()) {
            WriteLog(6, "CVideoManagerDlg::OnSpeak: The speak windows is not the focus window");
            return -1;
        }
    ILiveViewHost* host = LiveViewHost();
    if (pane->IsSoundOn() && pane->DevCopy().nPltDev == 0) {
        pane->OpenSound();
        m_bSoundOn = 0;
        host->SetSoundButtonImage(kImgSoundOff);
    }
    const int ret = pane->ToggleSpeak();
    m_bTalkOn = pane->IsTalkOn();
    host->SetTalkButtonImage(m_bTalkOn ? kImgTalkOn : kImgTalkOff);
    return ret;
}

int CVideoManagerDlg::OnStopSpeak(const char* name)
{
    if (!name)
        return -1;
    for (CVideoWnd* pane : m_pVideoWnd) {
        if (!pane || !pane->IsTalkOn() || !Eq(pane->DevCopy().DevName, name))
            continue;
        WriteLog(6, "CVideoManagerDlg::OnStopSpeak(): DevName=%s", name);
        pane->ToggleSpeak();
        m_bTalkOn = 0;
        LiveViewHost()->SetTalkButtonImage(kImgTalkOff);
        WriteLog(6, "CVideoManagerDlg::OnStopSpeak(): End.");
        return 0;
    }
    return -1;
}

int CVideoManagerDlg::SetSpeakStatus(const char* key, int nValue)
{
    if (!key)
        return -1;
    for (CVideoWnd* pane : m_pVideoWnd) {
        if (!pane)
            continue;
        const DeviceInfo& d = pane->DevCopy();
        std::string own = d.DevType == 4 ? std::string(d.IPAddr) + "-" + d.DevName : std::string(d.DevName);
        if (own != key)
            continue;
        pane->SetSpeakStatus(nValue);
        if (nValue != 0) {
            m_bTalkOn = 1;
            LiveViewHost()->SetTalkButtonImage(kImgTalkOn);
        } else if (m_bTalkOn) {
            m_bTalkOn = 0;
            LiveViewHost()->SetTalkButtonImage(kImgTalkOff);
        }
        return 0;
    }
    return -1;
}

int CVideoManagerDlg::OnSound()
{
    CVideoWnd* pane = GetPane(m_nSelected);
    if (!pane)
        return 0;
    if (DeviceInfo* d = FindById(pane->DevCopy().DevId)) {
        pane->DevCopy().Online = d->Online;
        if (d->Online == 0) {
            WriteLog(6, "CVideoManagerDlg::OnSpeak: the DevName=%s  offline, open sound refuse!", d->DevName);
            return 0;
        }
    }
    ILiveViewHost* host = LiveViewHost();
    for (CVideoWnd* p : m_pVideoWnd)
        if (p && p->IsTalkOn()) {
            p->ToggleSpeak();
            m_bTalkOn = 0;
            host->SetTalkButtonImage(kImgTalkOff);
            break;
        }
    const int ret = pane->OpenSound();
    m_bSoundOn = pane->IsSoundOn() || pane->IsRelaySoundOn();
    host->SetSoundButtonImage(m_bSoundOn ? kImgSoundOn : kImgSoundOff);
    return ret;
}

std::string CVideoManagerDlg::SnapshotFolder(const DeviceInfo& dev) const
{
    std::string folder = BaseFolder("Picture");
    if (dev.DevType == 4) {
        folder += dev.nPltDev == 1 ? dev.DevId : dev.IPAddr;
        folder += "/";
        folder += dev.DevName;
        folder += "/";
    } else {
        // Every device gets a folder of its own, which must exist before
        // the player writes into it.
        folder += dev.DevName;
        folder += "/";
    }
    return folder;
}

std::string CVideoManagerDlg::ManualRecordFolder(const DeviceInfo& dev) const
{
    std::string folder = BaseFolder("Video");
    if (dev.DevType == 4) {
        qelm::CsLock lock(g_csDevList);
        for (const DeviceInfo& d : g_lstDevInfo)
            if (d.DevType == 4 && Eq(d.DevId, dev.DevId) && d.CurNVRChannel == 0) {
                folder += d.DevName;
                folder += "/";
                break;
            }
    }
    const std::time_t now = qelm::WallNow();
    std::tm tm{};
    localtime_r(&now, &tm);
    char date[40];
    std::snprintf(date, sizeof date, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    folder += dev.DevName;
    folder += "/";
    folder += date;
    folder += "/";
    return folder;
}

int CVideoManagerDlg::SnapShot()
{
    CVideoWnd* pane = GetPane(m_nSelected);
    if (!pane)
        return -1;
    const std::string folder = SnapshotFolder(pane->DevCopy());
    if (pane->IsWatching())
        CreateDirTree(folder.c_str());
    const int ret = pane->SnapShot(folder.c_str());
    std::wstring text;
    if (ret == 0) {
        std::wstring path;
        AnsiToWide(folder, path);
        text = LoadResStringW(kStrSavePath) + path;
    } else {
        text = LoadResStringW(kStrCaptureFailure);
    }
    ShowMsgW(text);
    return ret;
}

int CVideoManagerDlg::ToggleManualRecord()
{
    CVideoWnd* pane = GetPane(m_nSelected);
    if (!pane)
        return -1;
    ILiveViewHost* host = LiveViewHost();
    if (pane->IsManualRecord()) {
        const std::string folder = pane->RecordFolder();
        pane->StopManualRec();
        host->SetRecordButton(kImgRecordOff, kStrRecordStart);
        std::wstring path;
        AnsiToWide(folder, path);
        ShowMsgW(LoadResStringW(kStrSavePath) + path);
        return -1;
    }
    if (!pane->IsWatching())
        return -1;
    const std::string folder = ManualRecordFolder(pane->DevCopy());
    CreateDirTree(folder.c_str());
    if (pane->StartManualRec(folder.c_str()) > 0)
        host->SetRecordButton(kImgRecordOn, kStrRecordStop);
    return -1;
}

int CVideoManagerDlg::SendPtzCmdToSelected(const char* cmd)
{
    CVideoWnd* pane = GetPane(m_nSelected);
    return pane ? pane->SendPtzCmd(cmd) : -1;
}

void CVideoManagerDlg::SendPtzCmdNow(const char* cmd)
{
    if (g_DispInfoSetting.KbConfigMode == 1) {
        for (CVideoWnd* pane : m_pVideoWnd)
            if (pane && pane->IsWatching())
                pane->SendPtzCmd(cmd);
    } else if (CVideoWnd* pane = GetPane(m_nSelected); pane && pane->IsWatching()) {
        pane->SendPtzCmd(cmd);
    }
}

void CVideoManagerDlg::SendPtzCmd(const char* cmd)
{
    if (!cmd)
        return;
    // The keyboard reader calls from its own thread; panes are touched on
    // the UI thread only.
    if (QThread::currentThread() == thread()) {
        SendPtzCmdNow(cmd);
        return;
    }
    qelm::PostText(GetSafeHwnd(), WM_GRID_PTZ_CMD, 0, cmd);
}

LRESULT CVideoManagerDlg::OnGridPtzCmd(WPARAM, LPARAM lParam)
{
    char* text = reinterpret_cast<char*>(lParam);
    SendPtzCmdNow(text);
    qelm::FreeText(text);
    return 0;
}

int CVideoManagerDlg::GetSelectedPtzAddr()
{
    CVideoWnd* pane = GetPane(m_nSelected);
    return pane && pane->IsWatching() ? pane->DevCopy().PtzAddr : 0;
}

int CVideoManagerDlg::SetDigitalZoomMode(int mode)
{
    for (CVideoWnd* pane : m_pVideoWnd)
        if (pane)
            pane->SetDigitalZoomMode(mode);
    if (CVideoWnd* pane = GetPane(m_nSelected))
        pane->setFocus();
    return 0;
}

int CVideoManagerDlg::ApplyFullDisplay()
{
    int ret = 0;
    for (CVideoWnd* pane : m_pVideoWnd)
        if (pane && !pane->IsFree())
            ret = pane->ApplyFullDisplay();
    return ret;
}

int CVideoManagerDlg::ApplyKeepLastFrame()
{
    int ret = 0;
    for (CVideoWnd* pane : m_pVideoWnd)
        if (pane && !pane->IsFree())
            ret = pane->ApplyShowLastFrame();
    return ret;
}

int CVideoManagerDlg::OnVideoFlip()
{
    CVideoWnd* pane = GetPane(m_nSelected);
    return pane && pane->IsWatching() ? pane->OnVideoFlip() : -1;
}
