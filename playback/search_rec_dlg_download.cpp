// CSearchRecDlg: downloads. The ticked result rows one after another from the
// device or through the relay into the download folder, and a recorder
// channel's time span as one MP4.
#include "playback/search_rec_dlg.h"

#include "core/helpers.h"
#include "core/log.h"
#include "devices/device_list_dlg.h"
#include "media/rec_scheme_manager.h"
#include "media/sink_targets.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/regular_file.h"
#include "platform/text.h"
#include "platform/xml_guard.h"
#include "res/strings.h"
#include "ui/gdip_button.h"
#include "ui/report_ctrl.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QMetaObject>
#include <QPointer>

#include <tinyxml.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

constexpr int kPathColumn = 0;
constexpr int kStatusColumn = 2;

std::string Res(UINT id)
{
    return LoadResString(id);
}

int64_t AttrInt64(const TiXmlElement* e, const char* name)
{
    const char* v = e->Attribute(name);
    return v ? std::strtoll(v, nullptr, 10) : 0;
}

std::string DownloadingText(int32_t percent)
{
    char text[128];
    std::snprintf(text, sizeof text, "%s (%d%%)...", Res(496).c_str(), percent);
    return text;
}

} // namespace

CSearchRecDlg::RelayDloadCalls CSearchRecDlg::s_relayDload = {&TS_InviteDloadStart, &TS_InviteDloadStop};

std::string CSearchRecDlg::SafeFileName(const std::string& remote)
{
    const size_t cut = remote.find_last_of("/\\");
    std::string name = cut == std::string::npos ? remote : remote.substr(cut + 1);
    if (name.empty() || name == "." || name == "..")
        return {};
    return name;
}

int32_t CSearchRecDlg::DownloadPercent(int64_t done, int64_t total)
{
    if (total <= 0 || done <= 0)
        return 0;
    // In 128 bits: done * 100 must not overflow for any 64-bit size.
    const __int128 percent = static_cast<__int128>(done) * 100 / total;
    return percent > INT32_MAX ? INT32_MAX : int32_t(percent);
}

// ---------------------------------------------------------------------------
// Rows and buttons

bool CSearchRecDlg::RowTicked(int row) const
{
    return m_pList && m_pList->GetCheck(row);
}

std::string CSearchRecDlg::RowPath(int row, size_t limit) const
{
    std::string path = m_pList ? m_pList->GetItemText(row, kPathColumn) : std::string();
    if (path.size() > limit)
        path.resize(limit);
    return path;
}

void CSearchRecDlg::SetRowStatus(int row, const std::string& text)
{
    if (m_pList && row >= 0 && row < m_pList->GetItemCount())
        m_pList->SetItemText(row, kStatusColumn, text.c_str());
}

void CSearchRecDlg::SetQueueRunning(bool running)
{
    std::lock_guard<std::recursive_mutex> lock(m_csDownload);
    for (UINT id : {IDC_BTN_SEARCH, IDC_BTN_PREV, IDC_BTN_NEXT})
        if (QWidget* w = GetDlgItem(id))
            w->setEnabled(!running);
    if (m_pList)
        m_pList->SetCheckboxMode(running ? RC_CHKBOX_DISABLED : RC_CHKBOX_NORMAL);
    m_bDownload = running ? 1 : 0;
    if (auto* b = GetDlgItemT<CGdipButton>(IDC_BTN_DOWNLOAD))
        b->SetButtonTextW(LoadResStringW(running ? 464 : 465).c_str());
}

void CSearchRecDlg::OnBnClickedCheckAll()
{
    if (!m_pList || !m_pAllCheck)
        return;
    const BOOL on = m_pAllCheck->isChecked() ? TRUE : FALSE;
    for (int r = 0; r < m_pList->GetItemCount(); ++r)
        m_pList->SetCheck(r, on);
}

void CSearchRecDlg::OnBnClickedDownload()
{
    if (m_bRelaySource) {
        if (m_bDownload)
            StopRelayQueue();
        else
            StartRelayQueue();
        return;
    }
    if (m_bDownload) {
        StopDeviceQueue();
        return;
    }
    m_bQueueDone = 0;
    StartDeviceRow(0, true);
}

// ---------------------------------------------------------------------------
// Device queue

// Starts the first ticked row from fromRow on. A row whose name cannot be a
// local file is marked failed and the next one tried; a device refusing a
// following file the same (the queue would otherwise wait for an end that
// never comes). False when nothing was started.
bool CSearchRecDlg::StartDeviceRow(int fromRow, bool first)
{
    const int rows = m_pList ? m_pList->GetItemCount() : 0;
    for (int row = std::max(0, fromRow); row < rows; ++row) {
        if (!RowTicked(row))
            continue;
        const std::string remote = RowPath(row, 1023);
        const std::string name = !remote.empty() && remote[0] == '/' ? SafeFileName(remote) : std::string();
        if (name.empty()) {
            WriteLog(6, "Download failed. RemoteFilePath = %s", remote.c_str());
            SetRowStatus(row, Res(506));
            continue;
        }
        const std::string local = qelm::NormalizePath(m_strDownloadPath + "\\" + name);
        const int32_t r = m_oDevInfo.pAuxPtzCtrl
                              ? m_oDevInfo.pAuxPtzCtrl->DownloadFile(m_oDevInfo.AuxPtzId, 0, remote.c_str(), local.c_str())
                              : -1;
        m_nDownloadRow = row;
        if (r == 0) {
            WriteLog(6, "Download success. RemoteFilePath = %s", remote.c_str());
            if (first)
                SetQueueRunning(true);
            return true;
        }
        if (first) {
            WriteLog(6, "Download failed. AuxPtzId=%ld, ret=%d, RemoteFilePath = %s", long(m_oDevInfo.AuxPtzId), r,
                     remote.c_str());
            return false;
        }
        WriteLog(6, "Download failed. RemoteFilePath = %s", remote.c_str());
        SetRowStatus(row, Res(506));
    }
    return false;
}

void CSearchRecDlg::StopDeviceQueue()
{
    {
        std::lock_guard<std::recursive_mutex> lock(m_csDownload);
        m_bDownload = 0;
    }
    if (m_oDevInfo.pAuxPtzCtrl)
        m_oDevInfo.pAuxPtzCtrl->StopDownload(m_oDevInfo.AuxPtzId);
    SetQueueRunning(false);
    if (!m_bQueueDone)
        SetRowStatus(m_nDownloadRow, Res(464));
}

LRESULT CSearchRecDlg::OnDownloadProgress(WPARAM wParam, LPARAM lParam)
{
    char* text = reinterpret_cast<char*>(lParam);
    const int32_t auxPtzId = int32_t(wParam);
    if (auxPtzId != m_oDevInfo.AuxPtzId || !m_bDownload) {
        qelm::FreeText(text);
        return 0;
    }
    TiXmlDocument doc;
    if (text && qelm::XmlNestingWithin(text))
        doc.Parse(text);
    qelm::FreeText(text);
    const TiXmlElement* root = doc.RootElement();
    if (!root) {
        WriteLog(6, "CSearchRecDlg::OnDownloadProgress():Parse download progress file failed.");
        return 0;
    }
    if (std::strcmp(root->Value(), "RESPONSE_PARAM") != 0)
        return 0;
    SetRowStatus(m_nDownloadRow, DownloadingText(DownloadPercent(AttrInt64(root, "start"), AttrInt64(root, "filesize"))));
    return 0;
}

LRESULT CSearchRecDlg::OnTransferEnd(WPARAM wParam, LPARAM lParam)
{
    const int32_t auxPtzId = int32_t(wParam);
    const int32_t type = int32_t(lParam);
    WriteLog(6, "CSearchRecDlg: receive download failed event. AuxPtzId=%ld", long(auxPtzId));
    if (auxPtzId != m_oDevInfo.AuxPtzId || !m_bDownload)
        return 0;
    SetRowStatus(m_nDownloadRow, Res(type == 16 ? 494 : 506));
    if (!StartDeviceRow(m_nDownloadRow + 1, false)) {
        m_bQueueDone = 1;
        StopDeviceQueue();
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Relay queue

namespace {

// Login id, relay name and channel of the selected relay channel.
struct RelayTarget {
    int login = -1;
    std::string name;
    int streamFlag = 0;
    int channel = 0;
};

RelayTarget TargetOf(const RelayDevItem& item, CDeviceListDlg* list)
{
    RelayTarget t;
    t.login = list ? list->FindVssLoginId(&item) : -1;
    t.name = std::string(item.Mac) + ":" + item.Ip;
    t.streamFlag = item.StreamFlag;
    const size_t n = strnlen(item.DevName, sizeof item.DevName);
    t.channel = item.Type == 0 && n > 0 ? (unsigned char)item.DevName[n - 1] - '0' : 0;
    return t;
}

} // namespace

bool CSearchRecDlg::InviteRelayRow(int row)
{
    const RelayTarget t = TargetOf(m_oRelayDev, m_pDevListDlg);
    std::string path;
    {
        std::lock_guard<std::recursive_mutex> lock(m_csDownload);
        qelm::CopyBounded(m_szDownloadFile, sizeof m_szDownloadFile, RowPath(row, sizeof m_szDownloadFile - 1).c_str());
        path = m_szDownloadFile;
    }
    return s_relayDload.start && s_relayDload.start(t.login, t.name.c_str(), t.streamFlag, t.channel, 1, path.c_str()) != 0;
}

void CSearchRecDlg::StartRelayQueue()
{
    const int rows = m_pList ? m_pList->GetItemCount() : 0;
    for (int row = 0; row < rows; ++row) {
        if (!RowTicked(row))
            continue;
        if (!InviteRelayRow(row))
            return;
        std::lock_guard<std::recursive_mutex> lock(m_csDownload);
        m_nDownloadRow = row;
        m_bDownloadWriteFailed = 0;
        SetQueueRunning(true);
        CRecSchemeManager::CreateDirPath(m_strDownloadPath.c_str());
        return;
    }
}

// Closes the ".tmp" of the current relay file; a stopped or failed one goes.
void CSearchRecDlg::CloseRelayTmp(bool remove)
{
    if (!m_fileDownload)
        return;
    m_fileDownload.reset();
    if (remove) {
        std::error_code ec;
        std::filesystem::remove(m_strDownloadTmp, ec);
    }
}

void CSearchRecDlg::StopRelayQueue()
{
    std::string path;
    {
        std::lock_guard<std::recursive_mutex> lock(m_csDownload);
        SetQueueRunning(false);
        SetRowStatus(m_nDownloadRow, Res(464));
        // No end notice follows a stop: the part written is not a file.
        CloseRelayTmp(true);
        path = m_szDownloadFile;
    }
    const RelayTarget t = TargetOf(m_oRelayDev, m_pDevListDlg);
    if (s_relayDload.stop)
        s_relayDload.stop(t.login, t.name.c_str(), t.streamFlag, t.channel, path.c_str());
}

void CSearchRecDlg::OnRelayDownloadData(const char* data, int32_t length, int64_t received, int64_t total,
                                        const char* path)
{
    std::lock_guard<std::recursive_mutex> lock(m_csDownload);
    if (!path || std::strcmp(path, m_szDownloadFile) != 0 || !m_bDownload)
        return;
    if (!m_fileDownload) {
        // Folders first, then the extension: a dot in a folder is not one.
        std::string base = SafeFileName(path);
        const size_t dot = base.find_last_of('.');
        if (dot != std::string::npos)
            base.resize(dot);
        if (base.empty() || base == "." || base == "..") {
            m_bDownloadWriteFailed = 1;
            return;
        }
        m_strDownloadTmp = qelm::NormalizePath(m_strDownloadPath + base + ".tmp");
        // A pipe or link already at that name is refused, never waited on.
        std::string why;
        const int fd = qelm::OpenRegularFile(m_strDownloadTmp, O_RDWR | O_CREAT | O_TRUNC, {}, &why);
        m_fileDownload.reset(fd >= 0 ? fdopen(fd, "w+b") : nullptr);
        if (!m_fileDownload) {
            if (fd >= 0)
                ::close(fd);
            WriteLog(3, "CSearchRecDlg::OnRelayDownloadData(): cannot create %s: %s", m_strDownloadTmp.c_str(),
                     fd >= 0 ? "no stream" : why.c_str());
            m_bDownloadWriteFailed = 1;
            return;
        }
    }
    if (data && length > 0 && std::fwrite(data, 1, size_t(length), m_fileDownload.get()) != size_t(length))
        m_bDownloadWriteFailed = 1;

    const uint32_t now = timeGetTime();
    if (now - m_dwLastProgressTick > kRelayProgressMs) {
        m_dwLastProgressTick = now;
        // The list belongs to the window thread.
        const int row = m_nDownloadRow;
        const std::string text = DownloadingText(DownloadPercent(received, total));
        QPointer<CSearchRecDlg> self(this);
        QMetaObject::invokeMethod(
            this,
            [self, row, text] {
                if (self && self->m_bDownload)
                    self->SetRowStatus(row, text);
            },
            Qt::QueuedConnection);
    }
}

void CSearchRecDlg::OnRelayDownloadEnd(const char* path)
{
    std::lock_guard<std::recursive_mutex> lock(m_csDownload);
    // After a stop the row keeps "Stop Download".
    if (!path || std::strcmp(path, m_szDownloadFile) != 0 || !m_bDownload)
        return;
    bool failed = m_bDownloadWriteFailed != 0;
    if (m_fileDownload) {
        failed = std::fflush(m_fileDownload.get()) != 0 || failed;
        const std::string tmp = m_strDownloadTmp;
        CloseRelayTmp(failed);
        if (!failed) {
            const size_t dot = tmp.find_last_of('.');
            const std::string done = tmp.substr(0, dot) + ".avi";
            std::error_code ec;
            struct stat st {};
            if (::lstat(done.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                std::filesystem::remove(tmp, ec); // an earlier copy stays
            } else if (::lstat(done.c_str(), &st) == 0) {
                // Something else holds the name: the download stays as it is.
                WriteLog(3, "CSearchRecDlg: %s is not a file; the download stays as %s", done.c_str(), tmp.c_str());
                failed = true;
            } else if (std::rename(tmp.c_str(), done.c_str()) != 0) {
                failed = true;
            }
        }
    }
    SetRowStatus(m_nDownloadRow, Res(failed ? 506 : 494));
    m_bDownloadWriteFailed = 0;
    const int rows = m_pList ? m_pList->GetItemCount() : 0;
    for (int row = m_nDownloadRow + 1; row < rows; ++row) {
        if (!RowTicked(row))
            continue;
        if (InviteRelayRow(row)) {
            m_nDownloadRow = row;
            return;
        }
        // A refused file is failed; the queue goes on with the next one.
        SetRowStatus(row, Res(506));
        m_nDownloadRow = row;
    }
    SetQueueRunning(false);
}

// ---------------------------------------------------------------------------
// Download by time

void CSearchRecDlg::OnBnClickedDownloadByTime()
{
    if (auto* l = dynamic_cast<QLabel*>(GetDlgItem(IDC_STATIC_DLSTATE)))
        l->clear();
    const QTime from = m_pDlStart->time(), to = m_pDlEnd->time();
    if (m_pDlStart->dateTime() >= m_pDlEnd->dateTime() || from >= to) {
        m_strLastMsg = Res(1479);
        MessageBoxA(m_hWnd, m_strLastMsg.c_str(), g_strTitle.c_str(), MB_OK);
        return;
    }
    const QDate day = m_pQueryDate->date();
    char start[32], end[32], file[64];
    std::snprintf(start, sizeof start, "%04d%02d%02d%02d%02d%02d", day.year(), day.month(), day.day(), from.hour(),
                  from.minute(), from.second());
    std::snprintf(end, sizeof end, "%04d%02d%02d%02d%02d%02d", day.year(), day.month(), day.day(), to.hour(),
                  to.minute(), to.second());
    std::snprintf(file, sizeof file, "%04d%02d%02d_%02d%02d%02d-%02d%02d%02d.mp4", day.year(), day.month(), day.day(),
                  from.hour(), from.minute(), from.second(), to.hour(), to.minute(), to.second());
    // The names are the device's texts: each made one safe folder name.
    const std::string folder = qelm::ResolveDrivePath(
        qelm::MakePath("D:\\Record\\%s_%s\\Remotion\\", RecSafeFolderName(m_oNvrDevInfo.DevId).c_str(),
                       RecSafeFolderName(m_oNvrDevInfo.DevName).c_str()));
    CRecSchemeManager::CreateDirPath(folder.c_str());
    const std::string local = folder + file;
    const int32_t r = m_oNvrDevInfo.pAuxPtzCtrl
                          ? m_oNvrDevInfo.pAuxPtzCtrl->DownloadByTime(m_oNvrDevInfo.AuxPtzId, m_oNvrDevInfo.CurNVRChannel,
                                                                      start, end, local.c_str())
                          : -1;
    WriteLog(6, "CSearchRecDlg::OnBnClickedDownloadByTime(): ret=%d, file=%s", r, local.c_str());
    if (r == -5) {
        m_strLastMsg = Res(1480);
        MessageBoxA(m_hWnd, m_strLastMsg.c_str(), g_strTitle.c_str(), MB_OK);
    }
}

void CSearchRecDlg::OnBnClickedStopDownloadByTime()
{
    if (m_oNvrDevInfo.pAuxPtzCtrl)
        m_oNvrDevInfo.pAuxPtzCtrl->StopDownloadByTime(m_oNvrDevInfo.AuxPtzId, m_oNvrDevInfo.CurNVRChannel);
}

void CSearchRecDlg::OnTimeDownloadProgress(int32_t auxPtzId, int32_t value)
{
    if (auxPtzId != m_oNvrDevInfo.AuxPtzId)
        return;
    QWidget* label = GetDlgItem(IDC_STATIC_DLSTATE);
    if (auto* l = dynamic_cast<QLabel*>(label); l && !l->isHidden())
        l->setText(QString::number(value));
}
