// The record search page's layout: the players' panes, the controls below
// them, the page's place in the main window, the control colours and the
// time line's creation.
#include "playback/search_rec_dlg.h"

#include "core/app_init.h"
#include "core/helpers.h"
#include "core/log.h"
#include "devices/device_list_dlg.h"
#include "mainwnd/ipc_client_dlg.h"
#include "playback/playback_toll_bar.h"

#include <QComboBox>
#include <QPainter>

#include <algorithm>

namespace {
// The stop-download button comes with the downloads.
constexpr UINT kIdStopDownload = 1220;
} // namespace

void CSearchRecDlg::CreateTimeBar()
{
    m_pTimeBar = new CPlayBackTollBar(this);
    m_pTimeBar->Create(CPlayBackTollBar::IDD, this);
    WriteLog(6, "CPlatformRecDlg::OnInitDialog(): End create playback toolbar...");
    m_pTimeBar->SetLanguage(g_nLanguage == 1 ? 1 : g_nLanguage == 0 ? 0 : g_nLanguage == 2 ? 2 : 3);
    m_pTimeBar->ShowWindow(SW_SHOW);
}

// Labels on the page's grey, the legend on the colours it names. The labels
// draw no background of their own: the page paints it under them.
void CSearchRecDlg::PaintControlColours(QPainter& dc)
{
    struct Colour {
        UINT id;
        COLORREF colour;
    };
    const COLORREF grey = RGB(246, 246, 246);
    const Colour colours[] = {
        {IDC_STATIC_TARGET, grey},     {IDC_STATIC_STATUS, grey},        {IDC_STATIC_HINT, grey},
        {IDC_STATIC_DL_START, grey},   {IDC_STATIC_DL_END, grey},        {IDC_STATIC_DLSTATUS, grey},
        {IDC_STATIC_DLSTATE, grey},    {IDC_STATIC_NVRCHANNEL, grey},    {IDC_STATIC_DL_DEVNAME, grey},
        {IDC_CHECK_ALL, grey},         {IDC_STATIC_LEGEND_ALARM, RGB(255, 0, 0)},
        {IDC_STATIC_LEGEND_PLAN, RGB(0, 128, 0)}, {IDC_STATIC_LEGEND_NONE, RGB(192, 192, 192)},
    };
    for (const Colour& c : colours) {
        QWidget* w = GetDlgItem(c.id);
        if (w && !w->isHidden())
            dc.fillRect(w->geometry(), QColor(GetRValue(c.colour), GetGValue(c.colour), GetBValue(c.colour)));
    }
}

// ---------------------------------------------------------------------------
// Panes

void CSearchRecDlg::GetPaneRects(int nPanes, int nSelPlayer, int W, int P, int Q, CRect rc[kSlots])
{
    for (int i = 0; i < kSlots; ++i)
        rc[i] = CRect(0, 0, 0, 0);
    auto at = [&](int i, int x, int y, int w, int h) { rc[i] = CRect(x, y, x + w, y + h); };
    switch (nPanes) {
    case 1:
        if (nSelPlayer >= 0 && nSelPlayer <= 3)
            at(nSelPlayer, Q + 3, 3, W - Q - 11, P);
        return;
    case 2:
        at(0, Q + 3, 3, (W - Q) / 2, P);
        at(1, Q + (W - Q) / 2 + 8, 3, (W - Q - 22) / 2, P);
        return;
    case 4:
        at(0, Q + 3, 3, (W - Q) / 2, P / 2 - 2);
        at(1, Q + (W - Q) / 2 + 8, 3, (W - Q - 22) / 2, P / 2 - 2);
        at(2, Q + 3, P / 2 + 5, (W - Q) / 2, P / 2 - 2);
        at(3, Q + (W - Q) / 2 + 8, P / 2 + 5, (W - Q - 22) / 2, P / 2 - 2);
        return;
    default: break;
    }
    if (nPanes <= 0)
        return;
    int n = 1;
    while (n * n < nPanes)
        ++n;
    const int cw = (W - Q) / n, ch = P / n;
    for (int j = 0; j < n; ++j)
        for (int k = 0; k < n; ++k)
            if (j * n + k < kSlots)
                at(j * n + k, Q + k * cw + 2, j * ch + 2, cw - 4, ch - 4);
}

// ---------------------------------------------------------------------------
// Page layout

void CSearchRecDlg::OnSize(UINT nType, int cx, int cy)
{
    CDialog::OnSize(nType, cx, cy);
    m_rcPage = CRect(x(), y(), x() + cx, y() + cy);
    if (m_bInitDone)
        LayoutControls();
}

void CSearchRecDlg::OnMove(int x, int y)
{
    CDialog::OnMove(x, y);
    m_rcPage = CRect(x, y, x + width(), y + height());
}

void CSearchRecDlg::LayoutControls()
{
    if (!m_bInitDone)
        return;
    const int W = width(), H = height();

    // 1. Players' height and left offset.
    int P = H - 360, Q = 0;
    const bool compact = m_bFullScreen || !m_bShowSearchPanel;
    if (m_pDevListDlg) {
        // On an extension monitor the page brings its own device panel; the
        // players cover the page in full screen, so it goes away there too.
        if (m_bOnExtScreen && !compact) {
            m_pDevListDlg->MoveWindow(5, 5, 220, H - 5);
            m_pDevListDlg->ShowWindow(SW_SHOW);
        } else {
            m_pDevListDlg->ShowWindow(SW_HIDE);
        }
    }
    if (m_bOnExtScreen)
        Q = 225;
    if (compact) {
        Q = 0;
        P = H - 5;
    }

    // 2. Players.
    CRect panes[kSlots];
    GetPaneRects(m_nPlayerCount, m_nSelPlayer, W, P, Q, panes);
    for (CPlayBackAtl* p : m_pPlayer)
        if (p)
            p->hide();
    for (int i = 0; i < kSlots; ++i) {
        if (!m_pPlayer[i] || panes[i].IsRectEmpty())
            continue;
        m_pPlayer[i]->MoveWindow(panes[i]);
        m_pPlayer[i]->show();
    }

    // 3. Panel state.
    ApplyPanelState();
    if (compact) {
        update();
        return;
    }

    // 4. The controls below the players.
    const int y1 = P + 35, y2 = y1 + 28, y3 = P + 38;
    auto place = [this, Q](UINT id, int x, int y, int w, int h) {
        if (QWidget* c = GetDlgItem(id))
            c->setGeometry(Q + x, y, w, h);
    };
    // A combo box's height there counted its list; here it is the box's own.
    auto combo = [this, Q](UINT id, int x, int y, int w) {
        if (QWidget* c = GetDlgItem(id))
            c->setGeometry(Q + x, y, w, std::max(c->sizeHint().height(), 22));
    };
    place(IDC_BTN_BYFILE, 3, P + 15, 77, 28);
    place(IDC_BTN_BYDATE, 88, P + 15, 77, 28);
    place(IDC_BTN_CUT, 173, P + 15, 77, 28);

    place(IDC_STATIC_QUERYDATE, 3, y1 + 15, 100, 20);
    place(IDC_DATE_QUERY, 108, y1 + 15, 110, 20);
    place(IDC_CHECK_SYNC, 240, y1 + 15, 150, 20);
    place(IDC_TIME_SYNC, 400, y1 + 15, 70, 20);
    place(IDC_BTN_SYNC_PLAY, 455, y1 + 39, 55, 20);

    place(IDC_STATIC_DL_DEVNAME, 420, y1 - 10, 80, 18);
    place(IDC_STATIC_NVRCHANNEL, 505, y1 - 10, 140, 18);
    place(IDC_STATIC_DLSTATUS, 605, y1 - 10, 140, 18);
    place(IDC_STATIC_DLSTATE, 750, y1 - 10, 30, 20);
    place(IDC_STATIC_DL_START, 495, y1 + 14, 55, 20);
    place(IDC_TIME_DL_START, 558, y1 + 12, 70, 20);
    place(IDC_STATIC_DL_END, 635, y1 + 14, 50, 20);
    place(IDC_TIME_DL_END, 690, y1 + 12, 70, 20);
    place(IDC_BTN_DL_BYTIME, 590, y1 + 37, 80, 20);
    place(IDC_BTN_DL_STOP, 680, y1 + 37, 80, 20);

    struct Legend {
        int x, w;
    };
    const bool wide = g_nLanguage == 5;
    const Legend legend[4] = {wide ? Legend{3, 130} : Legend{3, 100}, wide ? Legend{143, 170} : Legend{100, 100},
                              wide ? Legend{323, 170} : Legend{210, 100}, wide ? Legend{543, 175} : Legend{295, 160}};
    const UINT legendIds[4] = {IDC_STATIC_LEGEND_ALARM, IDC_STATIC_LEGEND_PLAN, IDC_STATIC_LEGEND_NONE,
                               IDC_STATIC_DBLCLK};
    for (int i = 0; i < 4; ++i)
        place(legendIds[i], legend[i].x, y2 + 15, legend[i].w, 15);

    place(IDC_GROUP_QUERY, 3, y3 + 15, W - Q - 10, H - y3 - 18);
    place(IDC_STATIC_DEVNAME, 14, y3 + 34, 85, 25);
    place(IDC_STATIC_SOURCE, 14, y3 + 64, 70, 25);
    place(IDC_STATIC_MEDIA, 14, y3 + 92, 70, 25);
    place(IDC_BTN_SEARCH, 14, y3 + 120, 57, 28);
    place(IDC_LIST_RECORD, 14, y3 + 153, W - Q - 28, H - y3 - 166);
    place(IDC_STATIC_TARGET, 104, y3 + 31, 220, 23);
    place(IDC_STATIC_HINT, 324, y3 + 26, 350, 33);
    combo(IDC_COMBO_SOURCE, 89, y3 + 64, 100);
    combo(IDC_COMBO_MEDIA, 89, y3 + 92, 100);
    place(IDC_BTN_PREV, 71, y3 + 120, 57, 28);
    place(IDC_BTN_NEXT, 128, y3 + 120, 57, 28);
    place(IDC_CHECK_ALL, 205, y3 + 125, 50, 20);
    place(IDC_STATIC_STATUS, 275, y3 + 130, 260, 20);
    place(IDC_STATIC_RECTYPE, 199, y3 + 64, 70, 25);
    place(IDC_STATIC_STREAM, 199, y3 + 92, 70, 25);
    combo(IDC_COMBO_RECTYPE, 279, y3 + 64, 100);
    combo(IDC_COMBO_STREAM, 279, y3 + 92, 100);
    place(IDC_STATIC_TIMERANGE, 394, y3 + 64, 65, 25);
    place(IDC_DATE_START, 464, y3 + 64, 140, 25);
    place(IDC_STATIC_TO, 606, y3 + 64, 20, 25);
    place(IDC_DATE_END, 631, y3 + 64, 140, 25);
    place(IDC_STATIC_SIZE, 394, y3 + 92, 65, 25);
    place(IDC_EDIT_MINSIZE, 464, y3 + 92, 100, 25);
    place(IDC_STATIC_TO2, 569, y3 + 92, 20, 25);
    place(IDC_EDIT_MAXSIZE, 591, y3 + 92, 100, 25);
    place(IDC_STATIC_SIZEHINT, 696, y3 + 92, g_nScreenWidth < 1280 ? 80 : 100, 25);
    place(IDC_BTN_DOWNLOAD, W - Q - 94, y3 + 120, 80, 28);
    place(kIdStopDownload, W - Q - 151, y3 + 120, 57, 28);
    if (m_pTimeBar)
        m_pTimeBar->setGeometry(Q + 3, y3 + 65, W - Q - 12, H - y3 - 68);

    // 5.
    update();
}

// ---------------------------------------------------------------------------
// Placement in the main window

void CSearchRecDlg::ResizePage(BOOL bFullSize)
{
    const int h = g_nLayoutHeight;
    CRect rc(235, h * 52 / 768 + 39, 1016, 758);
    if (bFullSize) {
        rc.right = g_nScreenWidth - 8;
        rc.bottom = g_nScreenHeight - 10;
    }
    m_rcPage = rc;
    MoveWindow(rc, TRUE);
}


