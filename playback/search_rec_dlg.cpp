#include "playback/search_rec_dlg.h"

#include "core/helpers.h"
#include "core/log.h"
#include "core/recinfo.h"
#include "core/userinfo.h"
#include "devices/device_list_dlg.h"
#include "media/control_wrappers.h"
#include "media/rec_scheme_manager.h"
#include "media/sink_targets.h"
#include "platform/paths.h"
#include "platform/sync.h"
#include "playback/dev_rec_request.h"
#include "playback/local_rec_search.h"
#include "playback/playback_toll_bar.h"
#include "res/strings.h"
#include "ui/gdip_button.h"
#include "ui/report_ctrl.h"
#include "ui/res_msg_dlg.h"
#include "ui/skin_draw.h"
#include "ui/skin_widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

namespace {

// A by-file control: shown in by-file mode only.
constexpr UINT kByFileIds[] = {
    CSearchRecDlg::IDC_GROUP_QUERY,     CSearchRecDlg::IDC_STATIC_DEVNAME, CSearchRecDlg::IDC_STATIC_SOURCE,
    CSearchRecDlg::IDC_STATIC_RECTYPE,  CSearchRecDlg::IDC_STATIC_TIMERANGE, CSearchRecDlg::IDC_STATIC_TO,
    CSearchRecDlg::IDC_STATIC_MEDIA,    CSearchRecDlg::IDC_STATIC_STREAM,  CSearchRecDlg::IDC_STATIC_SIZE,
    CSearchRecDlg::IDC_STATIC_TO2,      CSearchRecDlg::IDC_STATIC_SIZEHINT, CSearchRecDlg::IDC_STATIC_TARGET,
    CSearchRecDlg::IDC_STATIC_HINT,     CSearchRecDlg::IDC_BTN_SEARCH,     CSearchRecDlg::IDC_BTN_PREV,
    CSearchRecDlg::IDC_BTN_NEXT,        CSearchRecDlg::IDC_BTN_DOWNLOAD,   CSearchRecDlg::IDC_COMBO_SOURCE,
    CSearchRecDlg::IDC_COMBO_RECTYPE,   CSearchRecDlg::IDC_COMBO_MEDIA,    CSearchRecDlg::IDC_COMBO_STREAM,
    CSearchRecDlg::IDC_DATE_START,      CSearchRecDlg::IDC_DATE_END,       CSearchRecDlg::IDC_EDIT_MINSIZE,
    CSearchRecDlg::IDC_EDIT_MAXSIZE,    CSearchRecDlg::IDC_LIST_RECORD,    CSearchRecDlg::IDC_STATIC_STATUS,
    CSearchRecDlg::IDC_CHECK_ALL,
};

// By-date controls: the legend, the synchronous start, the download by time
// the query date and the time line.
constexpr UINT kByDateIds[] = {
    CSearchRecDlg::IDC_STATIC_LEGEND_ALARM, CSearchRecDlg::IDC_STATIC_LEGEND_PLAN,
    CSearchRecDlg::IDC_STATIC_LEGEND_NONE,  CSearchRecDlg::IDC_STATIC_DBLCLK,
    CSearchRecDlg::IDC_CHECK_SYNC,          CSearchRecDlg::IDC_TIME_SYNC,
    CSearchRecDlg::IDC_BTN_SYNC_PLAY,       CSearchRecDlg::IDC_STATIC_DL_DEVNAME,
    CSearchRecDlg::IDC_STATIC_NVRCHANNEL,   CSearchRecDlg::IDC_STATIC_DLSTATUS,
    CSearchRecDlg::IDC_STATIC_DLSTATE,      CSearchRecDlg::IDC_STATIC_DL_START,
    CSearchRecDlg::IDC_TIME_DL_START,       CSearchRecDlg::IDC_STATIC_DL_END,
    CSearchRecDlg::IDC_TIME_DL_END,         CSearchRecDlg::IDC_BTN_DL_BYTIME,
    CSearchRecDlg::IDC_BTN_DL_STOP,         CSearchRecDlg::IDC_DATE_QUERY,
    CSearchRecDlg::IDC_STATIC_QUERYDATE,
};

constexpr UINT kDownloadByTimeIds[] = {
    CSearchRecDlg::IDC_STATIC_DL_DEVNAME, CSearchRecDlg::IDC_STATIC_NVRCHANNEL, CSearchRecDlg::IDC_STATIC_DLSTATUS,
    CSearchRecDlg::IDC_STATIC_DLSTATE,    CSearchRecDlg::IDC_STATIC_DL_START,   CSearchRecDlg::IDC_TIME_DL_START,
    CSearchRecDlg::IDC_STATIC_DL_END,     CSearchRecDlg::IDC_TIME_DL_END,       CSearchRecDlg::IDC_BTN_DL_BYTIME,
    CSearchRecDlg::IDC_BTN_DL_STOP,
};

// Transparent labels and their string ids (0: no text of their own).
struct LabelText {
    UINT id;
    UINT text;
};
constexpr LabelText kLabels[] = {
    {CSearchRecDlg::IDC_STATIC_DEVNAME, 451},   {CSearchRecDlg::IDC_STATIC_SOURCE, 452},
    {CSearchRecDlg::IDC_STATIC_RECTYPE, 453},   {CSearchRecDlg::IDC_STATIC_TIMERANGE, 454},
    {CSearchRecDlg::IDC_STATIC_TO, 455},        {CSearchRecDlg::IDC_STATIC_TO2, 455},
    {CSearchRecDlg::IDC_STATIC_MEDIA, 456},     {CSearchRecDlg::IDC_STATIC_STREAM, 457},
    {CSearchRecDlg::IDC_STATIC_SIZE, 458},      {CSearchRecDlg::IDC_STATIC_SIZEHINT, 459},
    {CSearchRecDlg::IDC_STATIC_TARGET, 460},    {CSearchRecDlg::IDC_STATIC_STATUS, 0},
    {CSearchRecDlg::IDC_STATIC_HINT, 0},        {CSearchRecDlg::IDC_STATIC_DLSTATUS, 480},
    {CSearchRecDlg::IDC_STATIC_DL_DEVNAME, 400}, {CSearchRecDlg::IDC_STATIC_DL_START, 1477},
    {CSearchRecDlg::IDC_STATIC_DL_END, 1478},   {CSearchRecDlg::IDC_STATIC_LEGEND_ALARM, 1405},
    {CSearchRecDlg::IDC_STATIC_LEGEND_PLAN, 1403}, {CSearchRecDlg::IDC_STATIC_LEGEND_NONE, 1404},
    {CSearchRecDlg::IDC_STATIC_DBLCLK, 1089},   {CSearchRecDlg::IDC_STATIC_QUERYDATE, 509},
    {CSearchRecDlg::IDC_STATIC_NVRCHANNEL, 0},
};

} // namespace

BEGIN_MESSAGE_MAP(CSearchRecDlg, CDialog)
    ON_BN_CLICKED(IDC_BTN_SEARCH, &CSearchRecDlg::OnBnClickedBtnSearch)
    ON_BN_CLICKED(IDC_BTN_PREV, &CSearchRecDlg::OnBnClickedBtnPrevPage)
    ON_BN_CLICKED(IDC_BTN_NEXT, &CSearchRecDlg::OnBnClickedBtnNextPage)
    ON_BN_CLICKED(IDC_BTN_BYFILE, &CSearchRecDlg::OnBnClickedBtnByFile)
    ON_BN_CLICKED(IDC_BTN_BYDATE, &CSearchRecDlg::OnBnClickedBtnByDate)
    ON_BN_CLICKED(IDC_CHECK_SYNC, &CSearchRecDlg::OnBnClickedCheckSync)
    ON_CBN_SELCHANGE(IDC_COMBO_SOURCE, &CSearchRecDlg::OnCbnSelchangeSource)
    ON_CBN_SELCHANGE(IDC_COMBO_MEDIA, &CSearchRecDlg::OnCbnSelchangeMedia)
    ON_MESSAGE(WM_DEV_RECFILE_RESPONSE, &CSearchRecDlg::OnSearchRemoteRecFileResponse)
    ON_MESSAGE(WM_NVR_RECFILE_RESPONSE, &CSearchRecDlg::OnQueryNVRRecFileResponse)
    ON_MESSAGE(WM_TIMEBAR_DBLCLK, &CSearchRecDlg::OnTimeBarDblClk)
    ON_MESSAGE(WM_PLAYER_STOP, &CSearchRecDlg::OnPlayerStop)
    ON_MESSAGE(WM_RELAY_DAY_SETUP, &CSearchRecDlg::OnRelayDaySetup)
    ON_BN_CLICKED(IDC_BTN_SYNC_PLAY, &CSearchRecDlg::OnBnClickedSyncPlay)
    ON_BN_CLICKED(IDC_BTN_CUT, &CSearchRecDlg::OnBnClickedCutClip)
    ON_BN_CLICKED(IDC_BTN_DOWNLOAD, &CSearchRecDlg::OnBnClickedDownload)
    ON_BN_CLICKED(IDC_CHECK_ALL, &CSearchRecDlg::OnBnClickedCheckAll)
    ON_BN_CLICKED(IDC_BTN_DL_BYTIME, &CSearchRecDlg::OnBnClickedDownloadByTime)
    ON_BN_CLICKED(IDC_BTN_DL_STOP, &CSearchRecDlg::OnBnClickedStopDownloadByTime)
    ON_MESSAGE(WM_DOWNLOAD_PROGRESS, &CSearchRecDlg::OnDownloadProgress)
    ON_MESSAGE(WM_DEV_TRANSFER_FAILED, &CSearchRecDlg::OnTransferEnd)
END_MESSAGE_MAP()

void RegisterSearchRecPage()
{
    RegisterPageFactory("CSearchRecDlg", [](CWnd* parent) -> CDialog* {
        auto* page = new CSearchRecDlg(parent);
        if (!page->Create(CSearchRecDlg::IDD, parent)) {
            delete page;
            return nullptr;
        }
        return page;
    });
}

CSearchRecDlg::CSearchRecDlg(CWnd* pParent) : CDialog(IDD, pParent)
{
    SetChildStyle(pParent != nullptr);
    for (int i = 0; i < kSlots; ++i) {
        m_nPlayRow[i] = -1;
        m_oPBStatus[i] = PlayBackStatus{};
        m_oRelayDayStatus[i] = RelayDayStatus{};
    }
}

CSearchRecDlg::~CSearchRecDlg()
{
    if (m_bFullScreen)
        RemoveKeyboardHook();
    DestroyPlayers();
    delete m_pMsgDlg;
    m_pMsgDlg = nullptr;
    delete m_pDevListDlg;
    m_pDevListDlg = nullptr;
    delete m_pTimeBar;
    m_pTimeBar = nullptr;
}

// ---------------------------------------------------------------------------
// Controls

void CSearchRecDlg::CreateControls()
{
    resize(1024, 700);
    m_pGroup = new CTGroupBox(this);
    qelm::SetControlId(m_pGroup, IDC_GROUP_QUERY);
    for (const LabelText& l : kLabels)
        qelm::SetControlId(new CTransparentStatic(this), l.id);
    qelm::SetControlId(new QLabel(this), IDC_STATIC_DLSTATE);

    for (UINT id : {IDC_BTN_SEARCH, IDC_BTN_PREV, IDC_BTN_NEXT, IDC_BTN_DOWNLOAD, IDC_BTN_BYFILE, IDC_BTN_BYDATE,
                    IDC_BTN_DL_BYTIME, IDC_BTN_DL_STOP, IDC_BTN_CUT})
        qelm::SetControlId(new CGdipButton(this), id);
    // Both paging buttons start disabled, the cut button hidden.
    GetDlgItem(IDC_BTN_PREV)->setEnabled(false);
    GetDlgItem(IDC_BTN_NEXT)->setEnabled(false);
    GetDlgItem(IDC_BTN_CUT)->hide();

    m_pSyncCheck = new QCheckBox(this);
    qelm::SetControlId(m_pSyncCheck, IDC_CHECK_SYNC);
    m_pAllCheck = new QCheckBox(this);
    qelm::SetControlId(m_pAllCheck, IDC_CHECK_ALL);
    m_pSyncPlay = new QPushButton(this);
    qelm::SetControlId(m_pSyncPlay, IDC_BTN_SYNC_PLAY);

    auto combo = [this](UINT id) {
        auto* c = new QComboBox(this);
        qelm::SetControlId(c, id);
        return c;
    };
    m_pSource = combo(IDC_COMBO_SOURCE);
    m_pRecType = combo(IDC_COMBO_RECTYPE);
    m_pMedia = combo(IDC_COMBO_MEDIA);
    m_pStream = combo(IDC_COMBO_STREAM);

    auto edit = [this](UINT id) {
        auto* e = new QLineEdit(this);
        e->setMaxLength(20); // a size bound; keeps the device request within its buffer
        qelm::SetControlId(e, id);
        return e;
    };
    m_pMinSize = edit(IDC_EDIT_MINSIZE);
    m_pMaxSize = edit(IDC_EDIT_MAXSIZE);

    auto picker = [this](UINT id) {
        auto* p = new QDateTimeEdit(this);
        qelm::SetControlId(p, id);
        return p;
    };
    m_pStart = picker(IDC_DATE_START);
    m_pEnd = picker(IDC_DATE_END);
    m_pSyncTime = picker(IDC_TIME_SYNC);
    m_pQueryDate = picker(IDC_DATE_QUERY);
    m_pQueryDate->setDisplayFormat("yyyy-MM-dd");
    m_pQueryDate->setCalendarPopup(true);
    m_pQueryDate->setDate(QDate::currentDate());
    m_pDlStart = picker(IDC_TIME_DL_START);
    m_pDlEnd = picker(IDC_TIME_DL_END);

    m_pList = new CReportCtrl(this);
    qelm::SetControlId(m_pList, IDC_LIST_RECORD);
}

BOOL CSearchRecDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    // 1. Labels of the search form.
    SetCtrlTextW(this, IDC_GROUP_QUERY, LoadResStringW(450).c_str());
    m_pGroup->setTitle(QString::fromStdWString(LoadResStringW(450)));
    for (const LabelText& l : kLabels) {
        if (!l.text)
            continue;
        if (auto* s = GetDlgItemT<CTransparentStatic>(l.id))
            s->SetTextW(LoadResStringW(l.text).c_str());
    }

    // 2. Skinned buttons.
    auto button = [this](UINT id, UINT face, UINT text) {
        if (auto* b = GetDlgItemT<CGdipButton>(id)) {
            b->LoadImageResource(face, "PNG");
            b->SetButtonTextW(LoadResStringW(text).c_str());
        }
    };
    button(IDC_BTN_SEARCH, 189, 461);
    button(IDC_BTN_PREV, 189, 462);
    button(IDC_BTN_NEXT, 189, 463);
    button(IDC_BTN_DOWNLOAD, 189, 465);
    GetDlgItem(IDC_BTN_DOWNLOAD)->setEnabled(false);
    button(IDC_BTN_DL_BYTIME, 190, 465);
    button(IDC_BTN_DL_STOP, 190, 464);
    button(IDC_BTN_BYDATE, 190, 1091);
    button(IDC_BTN_BYFILE, 190, 1090);
    button(IDC_BTN_CUT, 190, 1527);

    // 3. The by-date panel's own captions.
    m_pSyncCheck->setText(QString::fromStdWString(LoadResStringW(1406)));
    m_pSyncPlay->setText(QString::fromStdWString(LoadResStringW(1407)));
    m_pAllCheck->setText(QString::fromStdWString(LoadResStringW(585)));

    // 4. Combo boxes, each at its first entry.
    auto fill = [](QComboBox* c, std::initializer_list<UINT> ids) {
        const QSignalBlocker block(c);
        c->clear();
        for (UINT id : ids)
            c->addItem(QString::fromStdWString(LoadResStringW(id)));
        c->setCurrentIndex(0);
    };
    fill(m_pSource, {466, 467});
    fill(m_pRecType, {468, 469, 470, 471});
    fill(m_pMedia, {472, 473});
    fill(m_pStream, {468, 482, 483});

    // 5. The span: today, whole day; sizes without bounds.
    const QDate today = QDate::currentDate();
    for (QDateTimeEdit* p : {m_pStart, m_pEnd})
        p->setDisplayFormat("yyyy-MM-dd    HH:mm:ss");
    m_pStart->setDateTime(QDateTime(today, QTime(0, 0, 0)));
    m_pEnd->setDateTime(QDateTime(today, QTime(23, 59, 59)));
    m_pMinSize->setText("-1");
    m_pMaxSize->setText("-1");

    // 6. Result list columns from its width (never so narrow that a column
    // would get no width: the list scrolls instead).
    const int w = std::max(m_pList->width(), 800);
    char layout[512];
    std::snprintf(layout, sizeof layout, "%s,%d; %s,%d; %s,%d; %s,%d", LoadResString(478).c_str(), w / 4 + 300,
                  LoadResString(479).c_str(), w / 4 - 100, LoadResString(480).c_str(), w / 4 - 100,
                  LoadResString(481).c_str(), w / 4 - 100);
    m_pList->SetColumnLayout(layout);
    m_pList->SetCheckboxMode(1);
    m_pList->SetGridLines(TRUE);

    // 7, 8. The players and their snapshot folder.
    CreatePlayers();
    InitPlayback();

    // 9. Cursors of the mouse modes (used by the player grid).
    const char* const cursors[] = {"aero_arrow.cur", "big.cur", "small.cur", "hand.cur"};
    for (int i = 0; i < 4; ++i)
        m_hCursor[i] = LoadCursorFromFile((GetAppDir() + "Images/" + cursors[i]).c_str());

    // 10. The page's own device panel and message box.
    m_pDevListDlg = new CDeviceListDlg(this);
    m_pDevListDlg->Create(CDeviceListDlg::IDD, this);
    // In the main window the main device panel serves the page; its own
    // panel is shown only when the page sits on an extension monitor.
    m_pDevListDlg->ShowWindow(SW_HIDE);
    m_pMsgDlg = new CResMsgDlg(this);
    m_pMsgDlg->Create(CResMsgDlg::IDD, this);

    // 11. The time line.
    CreateTimeBar();

    // 13. Laid out, by-file mode.
    m_bInitDone = 1;
    LayoutPage();
    OnBnClickedBtnByFile();

    // 14. Synchronous start and download by time start disabled and hidden.
    GetDlgItem(IDC_TIME_SYNC)->setEnabled(false);
    GetDlgItem(IDC_BTN_SYNC_PLAY)->setEnabled(false);
    m_pSyncCheck->setChecked(false);
    GetDlgItem(IDC_BTN_DL_BYTIME)->setEnabled(false);
    GetDlgItem(IDC_BTN_DL_STOP)->setEnabled(false);
    GetDlgItem(IDC_BTN_CUT)->hide();
    for (QDateTimeEdit* p : {m_pSyncTime, m_pDlStart, m_pDlEnd})
        p->setDisplayFormat("HH:mm:ss");
    for (UINT id : kDownloadByTimeIds)
        GetDlgItem(id)->hide();
    return TRUE;
}

std::string CSearchRecDlg::LastMessage() const
{
    return m_strLastMsg;
}

void CSearchRecDlg::ShowMsgId(UINT id)
{
    m_strLastMsg = LoadResString(id);
    if (m_pMsgDlg)
        m_pMsgDlg->ShowMsgW(LoadResStringW(id).c_str(), CResMsgDlg::MODE_INFO, 0);
}

void CSearchRecDlg::SetStatus(const std::string& text)
{
    if (auto* s = GetDlgItemT<CTransparentStatic>(IDC_STATIC_STATUS)) {
        s->SetText(text.c_str());
        s->PaintText();
    }
}

// ---------------------------------------------------------------------------
// Panel state (the layout itself is in search_rec_dlg_layout.cpp)

void CSearchRecDlg::ApplyPanelState()
{
    const bool shown = !m_bFullScreen && m_bShowSearchPanel;
    for (UINT id : {IDC_BTN_BYFILE, IDC_BTN_BYDATE, IDC_BTN_CUT})
        GetDlgItem(id)->setVisible(shown);
    if (shown) {
        if (m_bSearchByDate)
            OnBnClickedBtnByDate();
        else
            OnBnClickedBtnByFile();
    } else {
        ShowByFileControls(false);
        ShowByDateControls(false);
    }
}

void CSearchRecDlg::ShowByFileControls(bool show)
{
    for (UINT id : kByFileIds)
        if (QWidget* c = GetDlgItem(id))
            c->setVisible(show);
}

void CSearchRecDlg::ShowByDateControls(bool show)
{
    for (UINT id : kByDateIds)
        if (QWidget* c = GetDlgItem(id))
            c->setVisible(show);
    if (m_pTimeBar)
        m_pTimeBar->setVisible(show);
}

void CSearchRecDlg::OnBnClickedBtnByFile()
{
    ShowByDateControls(false);
    ShowByFileControls(true);
    m_bSearchByDate = 0;
}

void CSearchRecDlg::OnBnClickedBtnByDate()
{
    ShowByFileControls(false);
    ShowByDateControls(true);
    m_bSearchByDate = 1;
}

void CSearchRecDlg::ToggleSearchPanel()
{
    m_bShowSearchPanel = !m_bShowSearchPanel;
    LayoutPage();
    update();
}

void CSearchRecDlg::OnPaint()
{
    QPainter painter(this);
    CGdiManger gdi;
    gdi.DrawImageFile((GetAppDir() + "Images/Pagebk.jpg").c_str(), CRect(0, 0, width(), height()), &painter);
    PaintControlColours(painter);
    PaintPlayerFrame(painter);
}

// ---------------------------------------------------------------------------
// Form rules

void CSearchRecDlg::FillMediaCombo(bool withPicture)
{
    const int sel = m_pMedia->currentIndex();
    {
        const QSignalBlocker block(m_pMedia);
        m_pMedia->clear();
        for (UINT id : {472u, 473u})
            m_pMedia->addItem(QString::fromStdWString(LoadResStringW(id)));
        if (withPicture)
            m_pMedia->addItem(QString::fromStdWString(LoadResStringW(508)));
        m_pMedia->setCurrentIndex(withPicture || (sel >= 0 && sel < 2) ? std::max(sel, 0) : 0);
    }
    OnCbnSelchangeMedia();
}

void CSearchRecDlg::OnCbnSelchangeSource()
{
    if (m_pSource->currentIndex() == 1) {
        FillMediaCombo(true);
    } else {
        GetDlgItem(IDC_BTN_DOWNLOAD)->setEnabled(false);
        FillMediaCombo(false);
    }
}

void CSearchRecDlg::OnCbnSelchangeMedia()
{
    m_pStream->setEnabled(m_pMedia->currentIndex() != 2);
}

void CSearchRecDlg::OnBnClickedCheckSync()
{
    const bool on = m_pSyncCheck->isChecked();
    GetDlgItem(IDC_TIME_SYNC)->setEnabled(on);
    GetDlgItem(IDC_BTN_SYNC_PLAY)->setEnabled(on);
}
