// CSearchRecDlg: the search target, the search button, the result pages and
// the device and recorder answers.
#include "playback/search_rec_dlg.h"

#include "core/log.h"
#include "core/recinfo.h"
#include "core/userinfo.h"
#include "media/control_wrappers.h"
#include "media/rec_scheme_manager.h"
#include "media/sink_targets.h"
#include "platform/paths.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "playback/dev_rec_request.h"
#include "playback/local_rec_search.h"
#include "playback/playback_toll_bar.h"
#include "res/strings.h"
#include "ui/report_ctrl.h"
#include "ui/skin_widgets.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

namespace {

// Texts cut at a character boundary to the field (and to limit bytes).
void CopyText(char* dst, size_t size, const char* src, size_t limit = SIZE_MAX)
{
    qelm::CopyBounded(dst, std::min(size, limit == SIZE_MAX ? size : limit + 1), src);
}

int PagesOf(int count)
{
    return count <= 0 ? 0 : (count + CSearchRecDlg::kRowsPerPage - 1) / CSearchRecDlg::kRowsPerPage;
}

} // namespace

// ---------------------------------------------------------------------------
// Target

void CSearchRecDlg::SetSearchDevInfo(DeviceInfo* pDevInfo)
{
    if (m_bDownload) {
        WriteLog(6, "SetSearchDevInfo: search record refused. m_bDownload=true.");
        return;
    }
    if (!pDevInfo)
        return;
    const DeviceInfo dev = *pDevInfo;
    const bool byTime = dev.AuxPtzId >= 1 && dev.CurNVRChannel >= 1;
    GetDlgItem(IDC_BTN_DL_BYTIME)->setEnabled(byTime);
    GetDlgItem(IDC_BTN_DL_STOP)->setEnabled(byTime);

    if (m_bSearchByDate) {
        SelectByDate(dev);
        return;
    }

    if (m_bRelaySource) {
        const QSignalBlocker block(m_pSource);
        m_pSource->clear();
        for (UINT id : {466u, 467u})
            m_pSource->addItem(QString::fromStdWString(LoadResStringW(id)));
        m_pSource->setCurrentIndex(0);
    }
    if (m_bRelaySource)
        OnCbnSelchangeSource();
    ResetPlayRows();
    GetDlgItem(IDC_BTN_PREV)->setEnabled(false);
    GetDlgItem(IDC_BTN_NEXT)->setEnabled(false);
    SetStatus("");
    DeleteAllRows();

    m_oDevInfo = dev;
    if (auto* s = GetDlgItemT<CTransparentStatic>(IDC_STATIC_TARGET)) {
        s->SetText(m_oDevInfo.DevName);
        s->PaintText();
    }
    UpdateDownloadFolder(dev);
    if (GetDlgItemText(IDC_STATIC_HINT).empty())
        if (auto* s = GetDlgItemT<CTransparentStatic>(IDC_STATIC_HINT))
            s->SetTextW(LoadResStringW(484).c_str());
    m_bRelaySource = 0;
}

void CSearchRecDlg::UpdateDownloadFolder(const DeviceInfo& dev)
{
    // The names are user and cloud texts: made into one folder name each, as
    // the recorder makes them.
    const std::string devFolder = RecDeviceFolderName(dev);
    std::string path = qelm::MakePath("D:\\Record\\%s\\Remotion\\", RecSafeFolderName(dev.DevId).c_str());
    {
        qelm::CsLock lock(g_csDevList);
        for (const RecScheme* plan : g_lstRecSchemeInfo) {
            if (!plan)
                continue;
            bool member = false;
            for (const DeviceInfo* m : plan->lstDev)
                if (m && std::strcmp(m->DevName, dev.DevName) == 0) {
                    member = true;
                    break;
                }
            if (!member)
                continue;
            const char* storage = plan->StoragePath1[0]   ? plan->StoragePath1
                                  : plan->StoragePath2[0] ? plan->StoragePath2
                                                          : plan->StoragePath3;
            if (storage[0])
                path = qelm::MakePath("%s\\Record\\%s\\Remotion\\", storage, devFolder.c_str());
        }
    }
    m_strDownloadPath = qelm::ResolveDrivePath(path);
    CRecSchemeManager::CreateDirPath(m_strDownloadPath.c_str());
}

void CSearchRecDlg::SelectByDate(const DeviceInfo& dev)
{
    // 1. Slot: the channel's own, else a free one, else one not playing.
    int slot = -1;
    for (int i = 0; i < kSlots && slot < 0; ++i)
        if (std::strcmp(m_oPBStatus[i].szDevKey, dev.IPAddr) == 0 &&
            m_oPBStatus[i].oDayMap.nChannel == dev.CurNVRChannel)
            slot = i;
    for (int i = 0; i < kSlots && slot < 0; ++i)
        if (!m_oPBStatus[i].szDevKey[0])
            slot = i;
    for (int i = 0; i < kSlots && slot < 0; ++i)
        if (!m_oPBStatus[i].bPlaying)
            slot = i;
    if (slot < 0)
        return;
    m_nNextSlot = slot;

    // 2. Channel number.
    int channel = 0;
    if (dev.DevType == 0) {
        const size_t len = strnlen(dev.DevName, sizeof dev.DevName);
        const char last = len ? dev.DevName[len - 1] : 0;
        channel = last >= '0' && last <= '9' ? last - '0' : 0;
    } else if (dev.DevType == 4) {
        channel = dev.CurNVRChannel;
    }

    // 3. A cloud login keys the slots by DevId: a channel holds one slot.
    const bool cloud = g_DispInfoSetting.LoginType != 0;
    if (cloud) {
        for (const PlayBackStatus& c : m_oPBStatus)
            if (c.nIndex != -1 && std::strcmp(c.szDevKey, dev.DevId) == 0 && c.oDayMap.nChannel == channel) {
                WriteLog(6, "SetSearchDevInfo: search record refused. the device in m_oPBStatus list.");
                return;
            }
    } else if (dev.DevType == 4) {
        m_oNvrDevInfo = dev;
        char label[64] = {};
        if (dev.DevId[0])
            CopyText(label, sizeof label, (std::string(dev.DevId) + "_" + dev.DevName).c_str());
        if (auto* s = GetDlgItemT<CTransparentStatic>(IDC_STATIC_NVRCHANNEL)) {
            s->SetText(label);
            s->PaintText();
        }
    }

    // 4. The relay slot of this index gives up its row.
    RelayDayStatus& relay = m_oRelayDayStatus[slot];
    if (relay.nIndex == slot) {
        relay.nIndex = -1;
        relay.szName[0] = 0;
    }

    // 5. A new day record.
    PlayBackStatus& cell = m_oPBStatus[slot];
    const QDate day = m_pQueryDate->date();
    RecDayMap& map = cell.oDayMap;
    map.Reset();
    map.wYear = uint16_t(day.year());
    map.wMonth = uint16_t(day.month());
    map.byDay = uint8_t(day.day());
    CopyText(map.szKey, sizeof map.szKey, dev.IPAddr, 31);
    map.nChannel = channel;
    CopyText(map.szDevSN, sizeof map.szDevSN, dev.DevSN);

    // 6. The recorder answers later (its row is drawn then); local days are
    // read and drawn now.
    if (dev.DevType == 4) {
        SearchNVRRecByDate(&dev, map);
    } else {
        SearchLocalRecByDate(map);
        if (m_pTimeBar) {
            m_pTimeBar->RemoveRow(slot);
            m_pTimeBar->SetRow(map.szMinuteMap, dev.DevName, slot);
            m_pTimeBar->SetRowDate(slot, map.wYear, map.wMonth, map.byDay);
        }
    }

    // 7. The cell owns its row.
    cell.nIndex = slot;
    CopyText(cell.szDevKey, sizeof cell.szDevKey, cloud ? dev.DevId : map.szKey);
    cell.bPlaying = 0;
    cell.nPlayer = -1;
    cell.nYear = map.wYear;
    cell.nMonth = map.wMonth;
    cell.nDay = map.byDay;
    ++m_nNextSlot;
}

int CSearchRecDlg::SearchLocalRecByDate(RecDayMap& map)
{
    return recsearch::SearchLocalRecByDate(map);
}

// ---------------------------------------------------------------------------
// Search button and result pages

void CSearchRecDlg::ReadSpan(int64_t* startKey, int64_t* endKey, std::string* startText, std::string* endText) const
{
    const QDateTime s = m_pStart->dateTime(), e = m_pEnd->dateTime();
    auto key = [](const QDateTime& t) {
        return recsearch::TimeKey(t.date().year(), t.date().month(), t.date().day(), t.time().hour(),
                                  t.time().minute(), t.time().second());
    };
    if (startKey)
        *startKey = key(s);
    if (endKey)
        *endKey = key(e);
    if (startText)
        *startText = s.toString("yyyyMMdd HH:mm:ss").toStdString();
    if (endText)
        *endText = e.toString("yyyyMMdd HH:mm:ss").toStdString();
}

void CSearchRecDlg::ResetPlayRows()
{
    for (int32_t& r : m_nPlayRow)
        r = -1;
}

void CSearchRecDlg::DeleteAllRows()
{
    m_pList->setUpdatesEnabled(false);
    m_pList->DeleteAllItems();
    m_pList->setUpdatesEnabled(true);
}

void CSearchRecDlg::FillRows(int first)
{
    DeleteAllRows();
    auto it = m_lstRecFile.begin();
    for (int i = 0; i < first && it != m_lstRecFile.end(); ++i)
        ++it;
    for (int row = 0; row < kRowsPerPage && it != m_lstRecFile.end(); ++row, ++it) {
        const int n = m_pList->InsertItem(row, it->szPath);
        m_pList->SetItemText(n, 1, it->szSize);
    }
}

void CSearchRecDlg::ShowPageText()
{
    char text[256];
    std::snprintf(text, sizeof text, "%s %d %s, %s %d %s", LoadResString(486).c_str(), m_nPageCount,
                  LoadResString(487).c_str(), LoadResString(488).c_str(), m_nCurPage, LoadResString(487).c_str());
    SetStatus(text);
}

void CSearchRecDlg::OnBnClickedBtnSearch()
{
    if (!m_oDevInfo.DevName[0] && !m_oRelayDev.Ip[0]) {
        ShowMsgId(485);
        return;
    }
    int64_t startKey = 0, endKey = 0;
    ReadSpan(&startKey, &endKey, nullptr, nullptr);
    if (startKey > endKey) {
        ShowMsgId(491);
        return;
    }
    KillTimer(kStatusTimer);
    ResetPlayRows();
    GetDlgItem(IDC_BTN_PREV)->setEnabled(false);
    GetDlgItem(IDC_BTN_NEXT)->setEnabled(false);
    m_nCurPage = 1;
    m_nPageIndex = 0;
    m_nFirstRow = 0;
    m_nPageCount = 0;
    SetStatus("");
    DeleteAllRows();
    SetStatus(LoadResString(507));

    if (m_bRelaySource) {
        // Searches of another client's channels go through the relay bridge.
        WriteLog(6, "CSearchRecDlg::OnBnClickedBtnSearch(): relay search is not available.");
        return;
    }
    if (m_pSource->currentIndex() == 0) {
        WriteLog(6, "CSearchRecDlg::OnBnClickedBtnSearch():Begin search local record file.");
        if (SearchLocalRecFile() != 0) {
            SetStatus("");
            return;
        }
        ShowFirstResultPage();
        m_nPageCount = PagesOf(int(m_lstRecFile.size()));
        if (m_nPageCount == 0) {
            SetStatus("");
        } else {
            ShowPageText();
            if (m_lstRecFile.size() > size_t(kRowsPerPage)) {
                GetDlgItem(IDC_BTN_NEXT)->setEnabled(true);
            } else {
                GetDlgItem(IDC_BTN_PREV)->setEnabled(false);
                GetDlgItem(IDC_BTN_NEXT)->setEnabled(false);
            }
        }
        return;
    }

    WriteLog(6, "CSearchRecDlg::OnBnClickedBtnSearch():Begin search remote record file.");
    if (m_oDevInfo.DevType == 4 && m_oDevInfo.CurNVRChannel > 0) {
        ShowMsgId(330);
        SetStatus("");
    }
    m_nDevPageCount = 0;
    m_nDevPageIndex = 0;
    if (SearchRemoteRecFile(0, 1) != 0) {
        ShowMsgId(490);
        SetStatus("");
    }
}

int CSearchRecDlg::SearchLocalRecFile()
{
    recsearch::ByFileFilter filter;
    ReadSpan(&filter.startKey, &filter.endKey, nullptr, nullptr);
    if (filter.startKey > filter.endKey) {
        ShowMsgId(491);
        return -1;
    }
    m_lstRecFile.clear();
    filter.kind = std::max(m_pRecType->currentIndex(), 0);
    filter.media = std::max(m_pMedia->currentIndex(), 0);
    filter.stream = std::max(m_pStream->currentIndex(), 0);
    filter.minSize = recsearch::ParseSizeText(m_pMinSize->text().toStdString().c_str());
    filter.maxSize = recsearch::ParseSizeText(m_pMaxSize->text().toStdString().c_str());
    if (recsearch::SearchLocalRecFile(m_oDevInfo, filter, m_lstRecFile) != 0) {
        ShowMsgId(492);
        return -1;
    }
    return 0;
}

int CSearchRecDlg::ShowFirstResultPage()
{
    DeleteAllRows();
    if (m_lstRecFile.empty()) {
        ShowMsgId(489);
        SetStatus("");
        return -1;
    }
    FillRows(0);
    m_nPageCount = PagesOf(m_nTotalCount);
    if (m_nPageCount == 0) {
        SetStatus("");
        return -1;
    }
    if (m_nPageCount > 1 && m_nCurPage < m_nPageCount)
        GetDlgItem(IDC_BTN_NEXT)->setEnabled(true);
    if (m_nPageCount <= 1)
        GetDlgItem(IDC_BTN_PREV)->setEnabled(false);
    ShowPageText();
    return 0;
}

void CSearchRecDlg::OnBnClickedBtnNextPage()
{
    if (m_pSource->currentIndex() == 1 && !m_bRelaySource) {
        ++m_nPageIndex;
        ++m_nCurPage;
        SearchRemoteRecFile(m_nPageIndex, 1);
    } else {
        if (size_t(m_nFirstRow) + kRowsPerPage >= m_lstRecFile.size())
            return; // no further page in memory
        ResetPlayRows();
        KillTimer(kStatusTimer);
        m_nFirstRow += kRowsPerPage;
        FillRows(m_nFirstRow);
        ++m_nCurPage;
    }
    ShowPageText();
    GetDlgItem(IDC_BTN_NEXT)->setEnabled(m_nCurPage < m_nPageCount);
    GetDlgItem(IDC_BTN_PREV)->setEnabled(m_nCurPage > 1);
}

void CSearchRecDlg::OnBnClickedBtnPrevPage()
{
    if (m_pSource->currentIndex() == 1 && !m_bRelaySource) {
        if (m_nPageIndex - 1 < 0)
            return;
        --m_nPageIndex;
        --m_nCurPage;
        SearchRemoteRecFile(m_nPageIndex, 1);
    } else {
        if (m_nFirstRow < kRowsPerPage)
            return;
        ResetPlayRows();
        KillTimer(kStatusTimer);
        m_nFirstRow -= kRowsPerPage;
        FillRows(m_nFirstRow);
        --m_nCurPage;
    }
    ShowPageText();
    GetDlgItem(IDC_BTN_NEXT)->setEnabled(m_nCurPage < m_nPageCount);
    GetDlgItem(IDC_BTN_PREV)->setEnabled(m_nCurPage > 1);
}

// ---------------------------------------------------------------------------
// Device file search (1021)

int CSearchRecDlg::SearchRemoteRecFile(int nPage, int bClearList)
{
    if (bClearList == 1)
        DeleteAllRows();
    m_lstRecFile.clear();

    recsearch::FileSearchForm form;
    form.recordType = std::max(m_pRecType->currentIndex(), 0);
    ReadSpan(nullptr, nullptr, &form.startTime, &form.endTime);
    form.mediaType = std::max(m_pMedia->currentIndex(), 0);
    form.streamIndex = std::max(m_pStream->currentIndex(), 0);
    form.minSize = m_pMinSize->text().toStdString();
    form.maxSize = m_pMaxSize->text().toStdString();
    const std::string text = recsearch::BuildFileSearchRequest(form, nPage);

    if (m_oDevInfo.pAuxPtzCtrl && m_oDevInfo.AuxPtzId != 0) {
        const int rc = m_oDevInfo.pAuxPtzCtrl->WriteAUXStringEx(m_oDevInfo.AuxPtzId, "SYSTEM_CONTROL_MESSAGE", 1021, 0,
                                                                text.c_str());
        WriteLog(6, "WriteAUXStringEx: ReturnCode = %d, AuxPTZId = %ld, MsgType = SYSTEM_CONTROL_MESSAGE, Cmd = %s", rc,
                 long(m_oDevInfo.AuxPtzId), text.c_str());
        return rc;
    }
    WriteLog(6, "Search remote record file failed. the device AuxPtzCtrl is NULL.");
    return 0;
}

void CSearchRecDlg::QueueRelaySearch(const TsSearchRequest* pRequest, int nHandle, int32_t nAuxPtzId)
{
    if (!pRequest)
        return;
    m_lstRelaySearch.push_back({*pRequest, nHandle, nAuxPtzId});
}

void CSearchRecDlg::ServeRelaySearch(const RelaySearchWait& wait, int nResult, int nCount, const char* text)
{
    TS_RspReplaySearch(nResult, wait.request.nPeer, wait.nHandle, &wait.request, wait.request.nMedia,
                       wait.request.nSource, nCount, text);
}

LRESULT CSearchRecDlg::OnSearchRemoteRecFileResponse(WPARAM wParam, LPARAM lParam)
{
    char* text = reinterpret_cast<char*>(lParam);
    const int32_t auxPtzId = int32_t(wParam);
    WriteLog(6, "CSearchRecDlg::OnSearchRemoteRecFileResponse(): recv remote rec file response,begin parse...");
    const recsearch::FileSearchAnswer answer = recsearch::ParseFileSearchAnswer(text);
    qelm::FreeText(text);
    if (!answer.parsed) {
        WriteLog(6, "CSearchRecDlg::OnSearchRemoteRecFileResponse():Parse remote rec file failed.");
        SetStatus("");
        return -1;
    }
    m_nTotalCount = answer.totalCount;

    // A relay client waits on this device only when its search went there.
    auto waiting = std::find_if(m_lstRelaySearch.begin(), m_lstRelaySearch.end(),
                                [&](const RelaySearchWait& w) { return w.nAuxPtzId == auxPtzId; });
    const bool relay = waiting != m_lstRelaySearch.end();

    if (m_nTotalCount < 1) {
        if (relay) {
            const RelaySearchWait wait = *waiting;
            m_lstRelaySearch.erase(waiting);
            ServeRelaySearch(wait, 1, 0, nullptr);
            return 0;
        }
        ShowMsgId(489);
        SetStatus("");
        return 0;
    }

    // The answer's files, each once.
    auto append = [](std::list<RecFileItem>& list, const RecFileItem& item) {
        const bool known = std::any_of(list.begin(), list.end(), [&](const RecFileItem& f) {
            return std::strcmp(f.szPath, item.szPath) == 0 && std::strcmp(f.szSize, item.szSize) == 0;
        });
        if (!known)
            list.push_back(item);
    };

    if (relay) {
        // Only this answer's files go back, and the page's own results stay.
        const RelaySearchWait wait = *waiting;
        m_lstRelaySearch.erase(waiting);
        std::list<RecFileItem> files;
        for (const RecFileItem& item : answer.files)
            append(files, item);
        std::string reply;
        if (files.empty())
            ServeRelaySearch(wait, 1, 0, nullptr);
        else if (recsearch::BuildRelayAnswerText(files, reply))
            ServeRelaySearch(wait, 0, m_nTotalCount, reply.c_str());
        else
            ServeRelaySearch(wait, 1, 0, nullptr); // too long to send: the client must not wait
        return 0;
    }

    for (const RecFileItem& item : answer.files)
        append(m_lstRecFile, item);
    WriteLog(6, "CSearchRecDlg::OnSearchRemoteRecFileResponse(): recv remote rec file response,record file count=%d",
             m_nTotalCount);
    if (!m_lstRecFile.empty()) {
        GetDlgItem(IDC_BTN_DOWNLOAD)->setEnabled(true);
        MergeDevFileList();
    }
    m_nDevPageCount = PagesOf(m_nTotalCount);
    ++m_nDevPageIndex;
    // A page without files means the device has no more, whatever its count says.
    if (answer.hasRecordFile && m_nDevPageIndex < m_nDevPageCount && auxPtzId == m_oDevInfo.AuxPtzId)
        SearchRemoteRecFile(m_nDevPageIndex, 0);
    return 0;
}

void CSearchRecDlg::MergeDevFileList()
{
    std::set<std::pair<std::string, std::string>> rows;
    for (int r = 0; r < m_pList->GetItemCount(); ++r)
        rows.insert({m_pList->GetItemText(r, 0), m_pList->GetItemText(r, 1)});
    for (const RecFileItem& item : m_lstRecFile) {
        if (!rows.insert({item.szPath, item.szSize}).second)
            continue;
        const int n = m_pList->InsertItem(m_pList->GetItemCount(), item.szPath);
        m_pList->SetItemText(n, 1, item.szSize);
    }
    char status[128];
    std::snprintf(status, sizeof status, "%s: %d", LoadResString(1501).c_str(), m_pList->GetItemCount());
    SetStatus(status);
}

// ---------------------------------------------------------------------------
// Recorder day query (3001)

int CSearchRecDlg::SearchNVRRecByDate(const DeviceInfo* pDevInfo, const RecDayMap& map)
{
    if (!pDevInfo || !pDevInfo->pAuxPtzCtrl) {
        WriteLog(6, "SearchNVRRecByDate:Search NVR record file failed. the device AuxPtzCtrl is NULL.");
        return 0;
    }
    const std::string text = recsearch::BuildDayQueryRequest(map.nChannel, map.wYear, map.wMonth, map.byDay);
    return pDevInfo->pAuxPtzCtrl->WriteAUXStringEx(pDevInfo->AuxPtzId, "NVR_REPLAY_MESSAGE", 3001, 0, text.c_str());
}

LRESULT CSearchRecDlg::OnQueryNVRRecFileResponse(WPARAM wParam, LPARAM lParam)
{
    char* text = reinterpret_cast<char*>(lParam);
    WriteLog(6, "CSearchRecDlg::OnQueryNVRRecFileResponse(): recv remote NVR rec file response,begin parse...");
    const recsearch::DayQueryAnswer answer = recsearch::ParseDayQueryAnswer(text);
    qelm::FreeText(text);
    if (!answer.parsed) {
        WriteLog(6, "CSearchRecDlg::OnQueryNVRRecFileResponse():Parse remote NVR rec file failed.");
        return -1;
    }
    const int channel = answer.channel;
    char key[sizeof(PlayBackStatus::szDevKey)] = {};
    char name[sizeof(DeviceInfo::DevName)] = {};
    bool found = false;
    {
        qelm::CsLock lock(g_csDevList);
        for (const DeviceInfo& d : g_lstDevInfo)
            if (d.AuxPtzId == int32_t(wParam) && d.DevType == 4 && d.CurNVRChannel == channel) {
                CopyText(key, sizeof key, d.IPAddr);
                CopyText(name, sizeof name, d.DevName);
                found = true;
                break;
            }
    }
    if (!found || !answer.hasMap)
        return 0;
    for (int i = 0; i < kSlots; ++i) {
        PlayBackStatus& cell = m_oPBStatus[i];
        if (std::strcmp(cell.szDevKey, key) != 0 || cell.oDayMap.nChannel != channel)
            continue;
        // The map has no terminator: never more than a day of letters.
        std::memcpy(cell.oDayMap.szMinuteMap, answer.map.data(),
                    std::min(answer.map.size(), sizeof cell.oDayMap.szMinuteMap));
        if (m_pTimeBar) {
            m_pTimeBar->RemoveRow(i);
            m_pTimeBar->SetRow(cell.oDayMap.szMinuteMap, name, i);
            m_pTimeBar->SetRowDate(i, cell.oDayMap.wYear, cell.oDayMap.wMonth, cell.oDayMap.byDay);
        }
        break;
    }
    return 0;
}
