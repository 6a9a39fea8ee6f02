// The record search page's local playback: player choice, the result-list
// double click, local days chained file after file, the time-line double
// click, the status column, the synchronous start and the clip cutter.
#include "playback/search_rec_dlg.h"

#include "core/log.h"
#include "devices/device_list_dlg.h"
#include "media/clip_cut_dlg.h"
#include "playback/playback_toll_bar.h"
#include "platform/regular_file.h"
#include "res/strings.h"
#include "ui/report_ctrl.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QDesktopServices>
#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace {

void CopyText(char* out, size_t size, const char* text)
{
    std::snprintf(out, size, "%s", text ? text : "");
}

// A regular file only: opening a pipe to test it would wait for a writer.
bool CanRead(const std::string& path)
{
    const int fd = qelm::OpenRegularFile(path);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool MapHasRecords(const char* map)
{
    for (int i = 0; i < kDayMinutes; ++i)
        if (map[i] != kMapNone && map[i] != '\0')
            return true;
    return false;
}

} // namespace

void CSearchRecDlg::InitPlayback()
{
    if (m_pList)
        QObject::connect(m_pList, &QTreeWidget::itemDoubleClicked, m_pList, [this] { OnDblclkRecordList(); });
}

int CSearchRecDlg::ChooseDirectPlayer(bool bDeviceFile) const
{
    const bool selOk = !bDeviceFile || m_nSelPlayer < m_nPlayerCount;
    if (selOk) {
        CPlayBackAtl* sel = GetPlayer(m_nSelPlayer);
        if (sel && !sel->IsPlaying())
            return m_nSelPlayer;
    }
    for (int i = 0; i < kSlots; ++i)
        if (m_pPlayer[i] && !m_pPlayer[i]->IsPlaying())
            return i;
    return -1;
}

int CSearchRecDlg::ChooseDayPlayer() const
{
    CPlayBackAtl* sel = GetPlayer(m_nSelPlayer);
    if (sel && !sel->IsPlaying())
        return IsPlayerReserved(m_nSelPlayer) ? -1 : m_nSelPlayer;
    for (int i = 0; i < kSlots; ++i)
        if (m_pPlayer[i] && !m_pPlayer[i]->IsPlaying() && !IsPlayerReserved(i))
            return i;
    return -1;
}

void CSearchRecDlg::EmptyPlayStatus(int nRow)
{
    if (m_pList && nRow >= 0 && nRow < m_pList->GetItemCount())
        m_pList->SetItemText(nRow, 3, "");
}

int CSearchRecDlg::PlayerIndex(const CPlayBackAtl* player) const
{
    for (int i = 0; i < kSlots; ++i)
        if (player && m_pPlayer[i] == player)
            return i;
    return -1;
}

void CSearchRecDlg::OnDblclkRecordList()
{
    if (!m_pList || HasIdlePlayer() != 1)
        return;
    const int row = m_pList->GetNextSelectedItem(0);
    if (row < 0)
        return;
    std::string path = m_pList->GetItemText(row, 0);
    if (path.size() > 1023)
        path.resize(1023);

    if (m_bRelaySource && !path.empty()) {
        int busy = 0;
        for (CPlayBackAtl* p : m_pPlayer)
            busy += p && p->IsPlaying() ? 1 : 0;
        if (busy == kSlots)
            return;
        {
            std::lock_guard<std::mutex> lock(m_csRelay);
            for (const char* name : m_szRelayReplay)
                if (path == name)
                    return;
        }
        char relayName[260];
        std::snprintf(relayName, sizeof relayName, "%s:%s", m_oRelayDev.Mac, m_oRelayDev.Ip);
        const int login = m_pDevListDlg ? m_pDevListDlg->FindVssLoginId(&m_oRelayDev) : -1;
        const size_t n = strnlen(m_oRelayDev.DevName, sizeof m_oRelayDev.DevName);
        const int channel = m_oRelayDev.Type == 0 && n > 0 ? m_oRelayDev.DevName[n - 1] - '0' : 0;
        TS_InviteReplayStart(login, relayName, m_oRelayDev.StreamFlag, channel, 1, path.c_str());
        return;
    }

    // Device paths begin with '/'; local paths may too, so the source decides.
    const auto* source = GetDlgItemT<QComboBox>(IDC_COMBO_SOURCE);
    if (!path.empty() && path[0] == '/' && source && source->currentIndex() == 1) {
        const std::string leaf = CSearchRecDlg::SafeFileName(path);
        const std::string copy = leaf.empty() ? std::string() : m_strDownloadPath + leaf;
        const bool haveCopy = !copy.empty() && CanRead(copy);
        const bool picture = path.size() >= 4 && path.compare(path.size() - 4, 4, ".jpg") == 0;
        if (picture) {
            if (!haveCopy) {
                ShowMsgId(493);
                return;
            }
            if (CWnd* top = GetParent())
                top->ShowWindow(SW_MINIMIZE);
            WriteLog(6, "CSearchRecDlg::OnDblclkRecordList(): open %s", copy.c_str());
            QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(copy)));
            return;
        }
        if (!haveCopy) {
            if (StartDeviceFileReplay(path.c_str(), row) == -1)
                ShowMsgId(493);
            else
                SetTimer(kStatusTimer, 1000);
            return;
        }
        path = copy;
    }

    const int i = ChooseDirectPlayer(false);
    if (i >= 0) {
        CPlayBackAtl* p = m_pPlayer[i];
        p->Control(3, 0);
        p->Control(9, 0);
        p->OpenFile(path.c_str());
        CopyText(m_szPlayFile[i], sizeof m_szPlayFile[i], path.c_str());
        EmptyPlayStatus(m_nPlayRow[i]);
        m_nPlayRow[i] = row;
    }
    SetTimer(kStatusTimer, 1000);
}

void CSearchRecDlg::OpenReplay(int nRow, int nSecond)
{
    if (nRow < 0 || nRow >= kSlots)
        return;
    bool relayRow;
    {
        std::lock_guard<std::mutex> lock(m_csRelay);
        relayRow = m_oRelayDayStatus[nRow].nIndex == nRow;
    }
    if (relayRow) {
        RelayDayStatus& slot = m_oRelayDayStatus[nRow];
        const int login = FindRelayLoginId(slot.szName);
        if (slot.bPlaying) {
            TS_InviteReplaySeekByDate(login, slot.szName, slot.nChannel, nSecond);
            return;
        }
        const int i = ChooseDayPlayer();
        if (i < 0)
            return;
        // OLE date of the slot's day at midnight.
        const QDate day(slot.nYear, slot.nMonth, slot.nDay);
        const double date = day.isValid() ? double(QDate(1899, 12, 30).daysTo(day)) : 0.0;
        TS_InviteReplayStartByDate(login, slot.szName, slot.nChannel, date, nSecond);
        std::lock_guard<std::mutex> lock(m_csRelay);
        slot.nPlayer = i;
        slot.bPlaying = 1;
        slot.nSeekSec = nSecond;
        return;
    }

    PlayBackStatus& cell = m_oPBStatus[nRow];
    if (cell.nIndex == -1) {
        WriteLog(6, "OpenReplay:m_oPBStatus[%d].nIndex == -1, OpenReplay refused.", nRow);
        return;
    }
    if (cell.oDayMap.nChannel >= 1) {
        if (cell.bPlaying) {
            const int ch = cell.oDayMap.nChannel;
            char text[32];
            std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", cell.nYear, cell.nMonth, cell.nDay,
                          nSecond / 3600, nSecond % 3600 / 60, nSecond % 60);
            for (const DeviceInfo& d : g_lstDevInfo)
                if (std::strcmp(d.IPAddr, cell.szDevKey) == 0 && d.DevType == 4 && d.CurNVRChannel == ch &&
                    d.pAuxPtzCtrl)
                    d.pAuxPtzCtrl->ControlNvrReplay(d.AuxPtzId, ch, 9, nSecond, text);
            cell.nFileStartSec = nSecond - nSecond % kBlockSeconds;
            return;
        }
        const int i = OnNVRReplay(cell, nSecond);
        if (i != -1) {
            cell.nPlayer = i;
            cell.bPlaying = 1;
            cell.nFileStartSec = nSecond - nSecond % kBlockSeconds;
        }
        return;
    }

    // Local day: the file holding the second, the next one after a gap.
    const RecDayFile* file = nullptr;
    int offset = 0;
    int n = 1;
    auto& files = cell.oDayMap.lstFile;
    if (!files.empty() && files.front().nStartSec > nSecond) {
        file = &files.front();
        if (cell.oDayMap.nCurFile != 1)
            cell.nFileStartSec = file->nStartSec;
        cell.oDayMap.nCurFile = 1;
    } else {
        for (const RecDayFile& f : files) {
            if (nSecond < f.nStartSec || nSecond <= f.nStartSec + f.nDuration) {
                file = &f;
                if (cell.oDayMap.nCurFile != n) {
                    cell.oDayMap.nCurFile = n;
                    cell.nFileStartSec = f.nStartSec;
                }
                offset = nSecond > f.nStartSec ? nSecond - f.nStartSec : 0;
                break;
            }
            ++n;
        }
    }
    if (!file)
        return;
    if (cell.bPlaying) {
        CPlayBackAtl* p = GetPlayer(cell.nPlayer);
        if (!p)
            return;
        p->Stop();
        p->Control(9, 1);
        p->OpenFile(file->strPath.c_str());
        p->SetPlaySeconds(1, offset);
        CopyText(m_szPlayFile[cell.nPlayer], sizeof m_szPlayFile[0], file->strPath.c_str());
    } else {
        const int i = ChooseDayPlayer();
        if (i < 0)
            return;
        CPlayBackAtl* p = m_pPlayer[i];
        p->Control(3, 0);
        p->Control(9, 1);
        p->OpenFile(file->strPath.c_str());
        p->SetPlaySeconds(1, offset);
        CopyText(m_szPlayFile[i], sizeof m_szPlayFile[i], file->strPath.c_str());
        cell.nPlayer = i;
        cell.bPlaying = 1;
    }
    WriteLog(6, "OpenReplay: SetPlaySeconds. ProgressSeconds=%d,StartSeconds=%d", offset, cell.nFileStartSec);
}

void CSearchRecDlg::ReleaseRow(int nRow)
{
    PlayBackStatus& cell = m_oPBStatus[nRow];
    if (cell.bPlaying) {
        CPlayBackAtl* p = GetPlayer(cell.nPlayer);
        if (p && p->GetPlayState() != PlayBackControl::kClosed && p->GetPlayState() != PlayBackControl::kStopped)
            p->Stop();
    }
    cell.bPlaying = 0;
    cell.nPlayer = -1;
    cell.szDevKey[0] = '\0';
    cell.nIndex = -1;
    {
        std::lock_guard<std::mutex> lock(m_csRelay);
        RelayDayStatus& slot = m_oRelayDayStatus[nRow];
        if (slot.bPlaying) {
            CPlayBackAtl* p = GetPlayer(slot.nPlayer);
            if (p && p->GetPlayState() != PlayBackControl::kClosed && p->GetPlayState() != PlayBackControl::kStopped)
                p->Stop();
        }
        slot.bPlaying = 0;
        slot.nPlayer = -1;
        slot.szName[0] = '\0';
        slot.nIndex = -1;
    }
    if (m_pTimeBar)
        m_pTimeBar->RemoveRow(nRow);
}

LRESULT CSearchRecDlg::OnTimeBarDblClk(WPARAM wParam, LPARAM lParam)
{
    const int row = int(wParam);
    const int second = int(lParam);
    if (row < 0 || row >= kSlots)
        return 0;
    if (second < 0) {
        ReleaseRow(row);
        return 0;
    }
    bool relayPlays;
    {
        std::lock_guard<std::mutex> lock(m_csRelay);
        relayPlays = m_oRelayDayStatus[row].bPlaying != 0;
    }
    if (HasIdlePlayer() == 1 || m_oPBStatus[row].bPlaying || relayPlays)
        OpenReplay(row, second);
    return 0;
}

void CSearchRecDlg::OnPlayBackMessage(int32_t ctrlId, int32_t type, const char* text)
{
    const int p = ctrlId - int(kFirstPlayerId);
    CPlayBackAtl* player = GetPlayer(p);
    if (!player)
        return;
    if (type == PlayBackControl::kEnded) {
        for (PlayBackStatus& cell : m_oPBStatus) {
            if (cell.nPlayer != p)
                continue;
            int n = 1;
            const RecDayFile* next = nullptr;
            for (const RecDayFile& f : cell.oDayMap.lstFile) {
                if (n > cell.oDayMap.nCurFile) {
                    next = &f;
                    break;
                }
                ++n;
            }
            if (next) {
                cell.oDayMap.nCurFile = n;
                cell.nFileStartSec = next->nStartSec;
                player->OpenFile(next->strPath.c_str());
                CopyText(m_szPlayFile[p], sizeof m_szPlayFile[p], next->strPath.c_str());
            } else {
                player->Stop();
                cell.oDayMap.nCurFile = 0;
                cell.nFileStartSec = 0;
                cell.bPlaying = 0;
                cell.nPlayer = -1;
                if (m_pTimeBar)
                    m_pTimeBar->SetRowPos(cell.nIndex, 0);
            }
            return;
        }
        return;
    }
    if (type != PlayBackControl::kProgress || !text)
        return;
    const int t = std::atoi(text);
    for (int i = 0; i < kSlots; ++i) {
        const PlayBackStatus& cell = m_oPBStatus[i];
        if (cell.nPlayer == p && cell.bPlaying) {
            if (m_pTimeBar)
                m_pTimeBar->SetRowPos(cell.nIndex, t + cell.nFileStartSec);
            return;
        }
        bool relay = false;
        int index = -1, start = 0;
        {
            std::lock_guard<std::mutex> lock(m_csRelay);
            const RelayDayStatus& slot = m_oRelayDayStatus[i];
            if (slot.nPlayer == p && slot.bPlaying) {
                relay = true;
                index = slot.nIndex;
                start = slot.nStartSec;
            }
        }
        if (relay) {
            if (m_pTimeBar)
                m_pTimeBar->SetRowPos(index, t + start);
            return;
        }
    }
}

void CSearchRecDlg::OnPlayBackCommand(int32_t ctrlId, int32_t command, int32_t value)
{
    OnPlayerCommand(ctrlId, command, value);
}

void CSearchRecDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent != kStatusTimer) {
        CDialog::OnTimer(nIDEvent);
        return;
    }
    if (!m_pList)
        return;
    for (int i = 0; i < kSlots; ++i) {
        if (!m_pPlayer[i] || m_nPlayRow[i] == -1)
            continue;
        if (m_pPlayer[i]->IsPlaying()) {
            char text[64];
            std::snprintf(text, sizeof text, "%s%d:%s", LoadResString(497).c_str(), i + 1,
                          LoadResString(504).c_str());
            m_pList->SetItemText(m_nPlayRow[i], 3, text);
        } else {
            m_pList->SetItemText(m_nPlayRow[i], 3, "");
        }
    }
}

void CSearchRecDlg::StopAllPlayback()
{
    for (CPlayBackAtl* p : m_pPlayer) {
        if (!p)
            continue;
        p->GetPlayState();
        p->Close();
    }
}

void CSearchRecDlg::OnBnClickedCutClip()
{
    CCropDlg dlg(this);
    const int sel = m_nSelPlayer >= 0 && m_nSelPlayer < kSlots ? m_nSelPlayer : 0;
    if (m_szPlayFile[sel][0])
        dlg.SetSourceFile(m_szPlayFile[sel]);
    dlg.DoModal();
}

void CSearchRecDlg::OnBnClickedSyncPlay()
{
    auto* picker = GetDlgItemT<QDateTimeEdit>(IDC_TIME_SYNC);
    const QTime time = picker ? picker->time() : QTime(0, 0, 0);
    const int t = time.hour() * 3600 + time.minute() * 60 + time.second();
    int n = 0;
    for (int i = 0; i < m_nPlayerCount && i < kSlots; ++i)
        if (m_pPlayer[i] && !m_pPlayer[i]->IsPlaying() && !IsPlayerReserved(i))
            ++n;
    const int saved = m_nSelPlayer;
    m_nSelPlayer = 200;
    int started = 0;
    for (int l = 0; l < kSlots && started < n; ++l) {
        bool start = false;
        bool relayRow = false;
        {
            // A relay row is judged by the relay slot's own map.
            std::lock_guard<std::mutex> lock(m_csRelay);
            const RelayDayStatus& slot = m_oRelayDayStatus[l];
            if (slot.nIndex == l) {
                relayRow = true;
                start = !slot.bPlaying && MapHasRecords(slot.szMinuteMap);
            }
        }
        const PlayBackStatus& cell = m_oPBStatus[l];
        if (!relayRow && cell.nIndex == l)
            start = !cell.bPlaying && MapHasRecords(cell.oDayMap.szMinuteMap);
        if (!start)
            continue;
        OnTimeBarDblClk(WPARAM(l), LPARAM(t));
        ++started;
    }
    m_nSelPlayer = saved;
}

int64_t CSearchRecDlg::FramesFed(int nPlayer) const
{
    return nPlayer >= 0 && nPlayer < kSlots ? m_nFramesFed[nPlayer].load() : 0;
}
