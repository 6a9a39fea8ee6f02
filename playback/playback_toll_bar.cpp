// The time line: rows of minute maps drawn into 8-bit palette images, three
// zooms over them, a slider for the zoomed views, clicks and double clicks.
#include "playback/playback_toll_bar.h"

#include "platform/fonts.h"
#include "platform/message.h"
#include "platform/wnd.h"
#include "res/strings.h"
#include "ui/skin_widgets.h"

#include <QLabel>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

struct PaletteEntry {
    BYTE index;
    COLORREF colour;
};
constexpr PaletteEntry kPalette[] = {
    {0, RGB(0, 0, 0)},         {1, RGB(248, 255, 248)}, {2, RGB(0, 220, 0)},     {3, RGB(220, 0, 0)},
    {4, RGB(220, 220, 220)},   {5, RGB(255, 0, 0)},     {6, RGB(0, 255, 0)},     {7, RGB(0, 0, 255)},
    {8, RGB(255, 255, 255)},   {9, RGB(255, 0, 0)},     {250, RGB(254, 254, 254)},
};

constexpr int kSecondScaleWidth = 57600; // 8 hours at 2 pixels a second
constexpr int kMinuteScaleWidth = 5760;  // a day at 4 pixels a minute

// Writes text into an image. The time line names the text's bottom edge for
// its boxes and names, and the top-left corner for its scales.
void TextTop(CxImage& img, int x, int top, const char* text, int size, int weight = 400)
{
    img.DrawString(nullptr, x, top, text, RGBQUAD{0, 0, 0, 0}, "Arial", size, weight);
}
void TextBottom(CxImage& img, int x, int bottom, const char* text, int size)
{
    TextTop(img, x, std::max(0, bottom - size), text, size);
}

void HLine(CxImage& img, int x1, int x2, int y) { FillImageRect(&img, x1, y, x2, y, CPlayBackTollBar::kInk, true); }
void VLine(CxImage& img, int x, int y1, int y2) { FillImageRect(&img, x, y1, x, y2, CPlayBackTollBar::kInk, true); }

// Copies at most 31 bytes of a UTF-8 text without splitting a character.
void CopyName(char (&dst)[32], const char* src)
{
    std::memset(dst, 0, sizeof dst);
    size_t n = strnlen(src, sizeof dst);
    if (n > sizeof dst - 1) {
        n = sizeof dst - 1;
        while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memcpy(dst, src, n);
}

void FormatTime(char* buf, size_t size, int sec)
{
    std::snprintf(buf, size, "%02d:%02d:%02d", sec / 3600, sec / 60 % 60, sec % 60);
}

} // namespace

// --- image routines ----------------------------------------------------------------------

int FillImageRect(CxImage* image, int x1, int y1, int x2, int y2, BYTE index, bool filled)
{
    if (!image || !image->IsValid())
        return -1;
    if (image->GetBpp() != 8)
        return -2;
    const int w = int(image->GetWidth()), h = int(image->GetHeight());
    if (x1 > x2)
        std::swap(x1, x2);
    if (y1 > y2)
        std::swap(y1, y2);
    // Wholly outside: nothing to clamp onto.
    if (x2 < 0 || y2 < 0 || x1 >= w || y1 >= h)
        return 0;
    x1 = std::max(x1, 0);
    x2 = std::min(x2, w - 1);
    y1 = std::max(y1, 0);
    y2 = std::min(y2, h - 1);
    for (int y = y1; y <= y2; ++y) {
        BYTE* row = image->GetBits(DWORD(h - 1 - y)); // rows are stored bottom-up
        if (filled || y == y1 || y == y2) {
            std::memset(row + x1, index, size_t(x2 - x1 + 1));
        } else {
            row[x1] = index;
            row[x2] = index;
        }
    }
    return 0;
}

int PasteImageRows(CxImage* dst, const CxImage* src, int top)
{
    if (!dst || !dst->IsValid())
        return -1;
    if (!src || !src->IsValid())
        return -2;
    if (dst->GetBpp() != src->GetBpp())
        return -3;
    if (dst->GetWidth() != src->GetWidth() || dst->GetRowBytes() != src->GetRowBytes())
        return -4;
    const int dh = int(dst->GetHeight()), sh = int(src->GetHeight());
    if (top < 0 || top + sh > dh)
        return -5;
    auto* s = const_cast<CxImage*>(src);
    for (int y = 0; y < sh; ++y)
        std::memcpy(dst->GetBits(DWORD(dh - 1 - (top + y))), s->GetBits(DWORD(sh - 1 - y)), dst->GetRowBytes());
    return 0;
}

BOOL CPlayBackTollBar::InitPaletteImage(CxImage* image, int w, int h)
{
    if (!image || w <= 0 || h <= 0 || !image->Create(DWORD(w), DWORD(h), 8))
        return FALSE;
    for (const PaletteEntry& p : kPalette)
        image->SetPaletteColor(p.index, p.colour);
    image->SetTransIndex(kTransparent);
    image->Clear(kBackground);
    return TRUE;
}

int CPlayBackTollBar::DrawRowImage(CxImage* image, const char* pMinuteMap)
{
    if (!InitPaletteImage(image, kDayMinutes, kRowBand))
        return -1;
    if (!pMinuteMap)
        return -2;
    // A full map has no terminator: never read past a day of letters.
    const int len = int(strnlen(pMinuteMap, kDayMinutes));
    for (int a = 0; a < len;) {
        int b = a;
        while (b + 1 < len && pMinuteMap[b + 1] == pMinuteMap[a])
            ++b;
        const BYTE index = pMinuteMap[a] == 'A' ? kPlan : pMinuteMap[a] == 'B' ? kAlarm : kNoRecord;
        FillImageRect(image, a, 3, b, 14, index, true);
        a = b + 1;
    }
    return 0;
}

// --- the control ---------------------------------------------------------------------------

CPlayBackTollBar::CPlayBackTollBar(CWnd* pOwner) : CDialog(IDD, pOwner), m_pOwner(pOwner)
{
    SetChildStyle(pOwner != nullptr);
    qelm::SetSkinFontFace(m_fontBold, QStringLiteral("Arial"));
    m_fontBold.setPixelSize(14);
    m_fontBold.setWeight(QFont::Black);
    m_fontNormal = m_fontBold;
    m_fontNormal.setWeight(QFont::Normal);
}

CPlayBackTollBar::~CPlayBackTollBar()
{
    for (auto& [row, p] : m_mapRows)
        delete p;
}

void CPlayBackTollBar::CreateControls()
{
    resize(600, 300);
    m_pSlider = new CSkinSlider(this);
    qelm::SetControlId(m_pSlider, IDC_SLIDER);
    // Line and page steps move the zoomed views by a minute and ten.
    m_pSlider->setSingleStep(60);
    m_pSlider->setPageStep(600);
    QObject::connect(m_pSlider, &QAbstractSlider::actionTriggered, this, [this](int action) {
        UINT code = SB_ENDSCROLL;
        switch (action) {
        case QAbstractSlider::SliderSingleStepSub: code = SB_LINEUP; break;
        case QAbstractSlider::SliderSingleStepAdd: code = SB_LINEDOWN; break;
        case QAbstractSlider::SliderPageStepSub: code = SB_PAGEUP; break;
        case QAbstractSlider::SliderPageStepAdd: code = SB_PAGEDOWN; break;
        case QAbstractSlider::SliderMove: code = SB_THUMBTRACK; break;
        case QAbstractSlider::SliderToMinimum: code = SB_TOP; break;
        case QAbstractSlider::SliderToMaximum: code = SB_BOTTOM; break;
        default: break;
        }
        OnHScroll(code, m_pSlider->sliderPosition());
    });
    const UINT ids[3] = {IDC_ZOOM_DAY, IDC_ZOOM_MINUTE, IDC_ZOOM_SECOND};
    for (int i = 0; i < 3; ++i) {
        m_pZoom[i] = new QLabel(this);
        qelm::SetControlId(m_pZoom[i], ids[i]);
        // Clicks on a label are the control's own (its hit test picks the zoom).
        m_pZoom[i]->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_pZoom[i]->setAlignment(Qt::AlignCenter);
    }
}

BOOL CPlayBackTollBar::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_pSlider->setRange(0, kDaySeconds);
    for (auto& [row, p] : m_mapRows)
        delete p;
    m_mapRows.clear();
    SetLanguage(0);
    SetZoomFonts(IDC_ZOOM_DAY);
    const UINT texts[3] = {1092, 1093, 1094};
    for (int i = 0; i < 3; ++i)
        m_pZoom[i]->setText(QString::fromStdWString(LoadResStringW(texts[i])));
    m_pSlider->hide();
    OnSize(SIZE_RESTORED, width(), height());
    return TRUE;
}

int CPlayBackTollBar::SetLanguage(int) { return 0; }

void CPlayBackTollBar::SetZoomFonts(UINT boldId)
{
    for (QLabel* l : m_pZoom)
        if (l)
            l->setFont(qelm::ControlId(l) == boldId ? m_fontBold : m_fontNormal);
}

// --- size ---------------------------------------------------------------------------------

void CPlayBackTollBar::OnSize(UINT nType, int cx, int cy)
{
    CDialog::OnSize(nType, cx, cy);
    if (!m_pSlider)
        return;
    m_nSizedW = cx;
    m_nSizedH = cy;
    const int vw = cx - kNameWidth, rh = cy - (kScaleHeight + kBottom);
    BuildDayScale(vw);
    m_pSlider->setGeometry(kNameWidth, cy - 14, std::max(vw, 0), 14);
    m_nViewWidth = vw;

    m_imgRows.Destroy();
    m_imgNames.Destroy();
    m_nRowCount = rh > 0 ? rh / kRowPitch : 0;
    if (InitPaletteImage(&m_imgRows, kDayMinutes, rh) && InitPaletteImage(&m_imgNames, kNameWidth, rh)) {
        const int bottom = m_nRowCount * kRowPitch;
        VLine(m_imgNames, kNameWidth - 1, 0, bottom);
        for (int y = 0; y <= bottom; y += kRowPitch) {
            HLine(m_imgNames, 0, kNameWidth, y);
            HLine(m_imgRows, 0, kDayMinutes, y);
        }
    }
    InitPaletteImage(&m_imgViewTime, 50, 16);
    InitPaletteImage(&m_imgClickTime, 84, 16);
    const int xs[3] = {12, 30, 48};
    for (int i = 0; i < 3; ++i) {
        m_rcZoom[i] = CRect(xs[i], 16, xs[i] + 12, 16 + 14);
        if (m_pZoom[i])
            m_pZoom[i]->setGeometry(xs[i], 16, 12, 14);
    }
    RebuildRowImages();
    WriteViewTime();
    update();
}

void CPlayBackTollBar::BuildDayScale(int width)
{
    m_imgDayScale.Destroy();
    if (!InitPaletteImage(&m_imgDayScale, width, kScaleHeight))
        return;
    HLine(m_imgDayScale, 0, width, 6);
    for (int k = 0; k <= 48; ++k) {
        const int x = int(double(k) * width / 48.0);
        VLine(m_imgDayScale, x, 6, k % 2 == 0 ? 15 : 11);
        if (k % 2 == 0) {
            char text[8];
            std::snprintf(text, sizeof text, "%d", k / 2);
            TextTop(m_imgDayScale, x, 13, text, 12);
        }
    }
}

// The minute and second scales do not depend on the size: built once, when
// first shown.
void CPlayBackTollBar::EnsureMinuteScale()
{
    if (m_imgMinuteScale.IsValid() || !InitPaletteImage(&m_imgMinuteScale, kMinuteScaleWidth, kScaleHeight))
        return;
    HLine(m_imgMinuteScale, 0, kMinuteScaleWidth, 0);
    for (int m = 0; m < kDayMinutes; ++m) {
        const int x = 4 * m, mm = m % 60;
        VLine(m_imgMinuteScale, x, 0, mm % 10 == 0 ? 9 : mm % 5 == 0 ? 6 : 3);
        if (mm % 10 == 0) {
            char text[8];
            std::snprintf(text, sizeof text, "%02d:%02d", m / 60, mm);
            TextTop(m_imgMinuteScale, x + 1, 16, text, 12);
        }
    }
}

void CPlayBackTollBar::EnsureSecondScales()
{
    for (int part = 0; part < 3; ++part) {
        CxImage& img = m_imgSecondScale[part];
        if (img.IsValid() || !InitPaletteImage(&img, kSecondScaleWidth, kScaleHeight))
            continue;
        HLine(img, 0, kSecondScaleWidth, 0);
        for (int s = 0; s < kSecondScaleWidth / 2; ++s) {
            const int x = 2 * s, ss = s % 60;
            const int depth = ss % 30 == 0 ? 8 : ss % 10 == 0 ? 6 : ss % 5 == 0 ? 4 : 2;
            VLine(img, x, 0, depth);
            if (ss % 30 == 0) {
                char text[12];
                const int sec = part * 8 * 3600 + s;
                FormatTime(text, sizeof text, sec);
                TextTop(img, x, 16, text, 12);
            }
        }
    }
}

// --- rows ---------------------------------------------------------------------------------

const CTimeBarRow* CPlayBackTollBar::GetRow(int nRow) const
{
    auto it = m_mapRows.find(nRow);
    return it == m_mapRows.end() ? nullptr : it->second;
}

// A hidden window hears of its new size only when shown; rows set meanwhile
// must use the size it has.
void CPlayBackTollBar::SyncSize()
{
    if (m_pSlider && (width() != m_nSizedW || height() != m_nSizedH))
        OnSize(SIZE_RESTORED, width(), height());
}

int CPlayBackTollBar::SetRow(const char* pMinuteMap, const char* pName, int nRow)
{
    SyncSize();
    if (nRow < 0)
        return -1;
    if (!m_imgRows.IsValid() || kRowPitch * nRow + 2 + kRowBand > int(m_imgRows.GetHeight()))
        return -2;
    if (nRow >= m_nRowCount)
        return -3;
    CTimeBarRow*& p = m_mapRows[nRow];
    if (!p)
        p = new CTimeBarRow;
    if (!p->image)
        p->image = std::make_unique<CxImage>();
    std::memset(p->szMinutes, 0, sizeof p->szMinutes);
    if (pMinuteMap)
        std::memcpy(p->szMinutes, pMinuteMap, strnlen(pMinuteMap, sizeof p->szMinutes));
    if (pName && *pName) {
        CopyName(p->szName, pName);
    } else {
        char name[32];
        std::snprintf(name, sizeof name, "video%d", nRow);
        CopyName(p->szName, name);
    }
    p->nRow = nRow;
    p->nCursor = -1;
    DrawRowAndName(p);
    update();
    return 0;
}

// The row's picture from its map, pasted into the rows image, and its name.
void CPlayBackTollBar::DrawRowAndName(CTimeBarRow* p)
{
    const int r = p->nRow;
    DrawRowImage(p->image.get(), p->szMinutes);
    PasteImageRows(&m_imgRows, p->image.get(), kRowPitch * r + 2);
    HLine(m_imgRows, 0, kDayMinutes, kRowPitch * r + kRowPitch);
    if (m_imgNames.IsValid()) {
        FillImageRect(&m_imgNames, 0, kRowPitch * r + 1, kNameWidth - 2, kRowPitch * r + kRowPitch - 1, kBackground,
                      true);
        TextBottom(m_imgNames, 0, kRowPitch * r + 18, p->szName, 14);
        HLine(m_imgNames, 0, kNameWidth, kRowPitch * r + kRowPitch);
    }
}

void CPlayBackTollBar::SetRowDate(int nRow, int nYear, int nMonth, int nDay)
{
    auto it = m_mapRows.find(nRow);
    if (it == m_mapRows.end())
        return;
    it->second->nYear = nYear;
    it->second->nMonth = nMonth;
    it->second->nDay = nDay;
}

int CPlayBackTollBar::RemoveRow(int nRow)
{
    SyncSize();
    auto it = m_mapRows.find(nRow);
    if (it == m_mapRows.end() || it->second->nRow != nRow)
        return 0;
    CTimeBarRow* p = it->second;
    if (!p->image)
        p->image = std::make_unique<CxImage>();
    DrawRowImage(p->image.get(), nullptr);
    PasteImageRows(&m_imgRows, p->image.get(), kRowPitch * nRow + 2);
    FillImageRect(&m_imgNames, 0, kRowPitch * nRow, 82, kRowPitch * nRow + 22, kBackground, true);
    p->nRow = -1;
    p->nCursor = -1;
    update();
    return 0;
}

int CPlayBackTollBar::SetRowPos(int nRow, int nSecond)
{
    if (nSecond < 0 || nSecond > kDaySeconds)
        return -1;
    auto it = m_mapRows.find(nRow);
    if (it == m_mapRows.end() || it->second->nRow < 0)
        return -2;
    it->second->nCursor = nSecond;
    update();
    return 0;
}

int CPlayBackTollBar::GetRowPos(int nRow) const
{
    auto it = m_mapRows.find(nRow);
    if (it == m_mapRows.end() || it->second->nRow < 0 || it->second->nCursor < 0)
        return 0;
    return it->second->nCursor;
}

void CPlayBackTollBar::RebuildRowImages()
{
    for (auto& [index, p] : m_mapRows)
        if (p->image && p->nRow >= 0)
            DrawRowAndName(p);
}

void CPlayBackTollBar::RebuildRows()
{
    RebuildRowImages();
    update();
}

// --- drawing ------------------------------------------------------------------------------

void CPlayBackTollBar::Redraw(int nZoom)
{
    if (nZoom >= 1 && nZoom <= 3)
        m_nZoom = nZoom;
    if (m_pSlider)
        m_pSlider->setVisible(m_nZoom == 2 || m_nZoom == 3);
    WriteViewTime();
    update();
}

void CPlayBackTollBar::WriteViewTime()
{
    if (!m_imgViewTime.IsValid())
        return;
    m_imgViewTime.Clear(kBackground);
    char text[16] = {};
    if (m_nZoom == 1)
        FormatTime(text, sizeof text, 0);
    else if (m_nSliderSec >= 0)
        FormatTime(text, sizeof text, m_nSliderSec);
    TextBottom(m_imgViewTime, 0, 15, text, 16);
}

void CPlayBackTollBar::OnPaint()
{
    QPainter dc(this);
    dc.fillRect(rect(), QColor(248, 255, 248));
    RebuildRowImages();
    Compose(dc);
}

void CPlayBackTollBar::Compose(CDC& dc)
{
    const int W = width(), H = height();
    const int VW = W - kNameWidth, RH = H - (kScaleHeight + kBottom);
    if (m_nZoom < 1 || m_nZoom > 3)
        return;
    if (m_imgNames.IsValid())
        m_imgNames.Stretch(dc, 0, kScaleHeight, kNameWidth, RH);
    if (m_imgViewTime.IsValid())
        m_imgViewTime.Stretch(dc, 12, 1, 50, 16);
    if (VW > 0 && RH > 0 && m_imgRows.IsValid()) {
        CxImage view;
        if (m_nZoom == 1) {
            view.Copy(m_imgRows);
            view.Resample(VW, RH, 1);
            for (auto& [index, p] : m_mapRows) {
                if (p->nRow < 0)
                    continue;
                const int x = p->nCursor * VW / kDaySeconds;
                FillImageRect(&view, x, kRowPitch * p->nRow, x + 1, kRowPitch * p->nRow + kRowPitch, kCursor, true);
            }
            if (m_imgDayScale.IsValid())
                m_imgDayScale.Stretch(dc, kNameWidth, 5, VW, kScaleHeight);
            view.Stretch(dc, kNameWidth, kScaleHeight, VW, RH);
        } else if (m_nZoom == 2) {
            const int m0 = m_nSliderSec / 60;
            if (m_imgRows.Crop(m0, 0, m0 + VW / 4, RH - 1, &view)) {
                view.Resample(long(view.GetWidth()) * 4, RH, 1);
                for (auto& [index, p] : m_mapRows) {
                    if (p->nRow < 0)
                        continue;
                    const int x = (p->nCursor - m_nSliderSec) / 15;
                    if (x >= 0 && x <= VW)
                        FillImageRect(&view, x, kRowPitch * p->nRow, x + 1, kRowPitch * p->nRow + kRowPitch, kCursor,
                                      true);
                }
                const int w = std::min<int>(VW, int(view.GetWidth()));
                DrawImagePart(&view, &dc, kNameWidth, kScaleHeight, w, RH, 0, 0, w, RH);
            }
            EnsureMinuteScale();
            const int sx = m0 * 4, w = std::min(VW, kMinuteScaleWidth - sx);
            if (w > 0)
                DrawImagePart(&m_imgMinuteScale, &dc, kNameWidth, 0, w, kScaleHeight, sx, 0, w, kScaleHeight);
        } else {
            const int m0 = m_nSliderSec / 60, o = (m_nSliderSec % 60) * 2;
            if (m_imgRows.Crop(m0, 0, m0 + VW / 120 + 1, RH - 1, &view)) {
                view.Resample(long(view.GetWidth()) * 120, RH, 1);
                for (auto& [index, p] : m_mapRows) {
                    if (p->nRow < 0)
                        continue;
                    const int d = 2 * (p->nCursor - m_nSliderSec);
                    if (d < VW) {
                        const int x = std::max(d, 0) + o;
                        FillImageRect(&view, x, kRowPitch * p->nRow, x + 1, kRowPitch * p->nRow + kRowPitch, kCursor,
                                      true);
                    }
                }
                const int w = std::min<int>(VW, int(view.GetWidth()) - o);
                if (w > 0)
                    DrawImagePart(&view, &dc, kNameWidth, kScaleHeight, w, RH, o, 0, w, RH);
            }
            // The scale of the whole day is 172,800 pixels in three images;
            // a view across 08:00 or 16:00 joins two of them.
            EnsureSecondScales();
            int p = 2 * m_nSliderSec, x = 0;
            while (x < VW && p < 3 * kSecondScaleWidth) {
                const int part = p / kSecondScaleWidth, sx = p % kSecondScaleWidth;
                const int w = std::min(VW - x, kSecondScaleWidth - sx);
                DrawImagePart(&m_imgSecondScale[part], &dc, kNameWidth + x, 0, w, kScaleHeight, sx, 0, w,
                              kScaleHeight);
                x += w;
                p += w;
            }
        }
    }
    if (m_imgClickTime.IsValid())
        m_imgClickTime.Stretch(dc, 0, H - 14, 84, 16);
}

// --- mouse --------------------------------------------------------------------------------

bool CPlayBackTollBar::HitRow(CPoint point, int* pRow, int* pX) const
{
    const int x = point.x - kNameWidth, y = point.y - kScaleHeight;
    const int r = y / kRowPitch;
    *pRow = r;
    *pX = x;
    // A band outside the rows that fit would name a slot the page does not have.
    return y > 0 && r < m_nRowCount && kRowPitch * r + 2 < y && y < kRowPitch * r + kRowBand;
}

void CPlayBackTollBar::OnLButtonUp(UINT nFlags, CPoint point)
{
    CDialog::OnLButtonUp(nFlags, point);
    int r = 0, x = 0;
    if (HitRow(point, &r, &x) && x > 0 && m_nViewWidth > 0) {
        int sec = 0;
        switch (m_nZoom) {
        case 1: sec = x * kDaySeconds / m_nViewWidth; break;
        case 2: sec = x * 60 / 4 + m_nSliderSec; break;
        default: sec = x / 2 + m_nSliderSec; break;
        }
        m_nClickSec = sec;
        char text[48];
        if (m_imgClickTime.IsValid()) {
            FillImageRect(&m_imgClickTime, 0, 0, 79, 16, kBackground, true);
            FormatTime(text, sizeof text, sec);
            TextBottom(m_imgClickTime, 0, 10, text, 14);
        }
        if (m_imgNames.IsValid()) {
            const int rh = int(m_imgNames.GetHeight());
            FillImageRect(&m_imgNames, 0, rh - 12, 80, rh, kBackground, true);
            const CTimeBarRow* row = GetRow(r);
            if (row && row->nRow == r) {
                std::snprintf(text, sizeof text, "CH:%d %d-%02d-%02d", r, row->nYear, row->nMonth, row->nDay);
                TextBottom(m_imgNames, 0, rh - 2, text, 14);
            }
        }
        update();
    }
    if (m_rcZoom[0].PtInRect(point))
        OnZoomDay();
    else if (m_rcZoom[1].PtInRect(point))
        OnZoomMinute();
    else if (m_rcZoom[2].PtInRect(point))
        OnZoomSecond();
}

void CPlayBackTollBar::OnLButtonDblClk(UINT nFlags, CPoint point)
{
    CDialog::OnLButtonDblClk(nFlags, point);
    int r = 0, x = 0;
    if (!HitRow(point, &r, &x) || !m_pOwner || !::IsWindow(m_pOwner->GetSafeHwnd()))
        return;
    int sec = kNameColumn;
    if (x > 0) {
        switch (m_nZoom) {
        case 1: sec = m_nViewWidth > 0 ? x * kDaySeconds / m_nViewWidth : 0; break;
        case 2: sec = (x / 4) * 60 + m_nSliderSec; break;
        default: sec = x / 2 + m_nSliderSec; break;
        }
    }
    ::PostMessage(m_pOwner->GetSafeHwnd(), WM_TIMEBAR_DBLCLK, WPARAM(r), LPARAM(sec));
}

// --- zoom and slider ---------------------------------------------------------------------------

void CPlayBackTollBar::OnZoomDay()
{
    SetZoomFonts(IDC_ZOOM_DAY);
    Redraw(1);
}

void CPlayBackTollBar::OnZoomMinute()
{
    const int a = std::min((m_nViewWidth / 4) * 60, kDaySeconds);
    const int hi = std::max(kDaySeconds - a, 0);
    m_nSliderSec = std::clamp(m_nClickSec - a / 2, 0, hi);
    {
        const QSignalBlocker block(m_pSlider);
        m_pSlider->setRange(0, hi);
        m_pSlider->setValue(m_nSliderSec);
    }
    m_pSlider->update();
    SetZoomFonts(IDC_ZOOM_MINUTE);
    Redraw(2);
}

void CPlayBackTollBar::OnZoomSecond()
{
    const int span = std::min(m_nViewWidth / 2, kDaySeconds);
    const int hi = std::max(kDaySeconds - span, 0);
    m_nSliderSec = std::clamp(m_nClickSec - m_nViewWidth / 4, 0, hi);
    {
        const QSignalBlocker block(m_pSlider);
        m_pSlider->setRange(0, hi);
        m_pSlider->setValue(m_nSliderSec);
    }
    m_pSlider->update();
    SetZoomFonts(IDC_ZOOM_SECOND);
    Redraw(3);
}

void CPlayBackTollBar::OnHScroll(UINT nSBCode, int nPos)
{
    switch (nSBCode) {
    case SB_LINEUP:
    case SB_LINEDOWN:
    case SB_PAGEUP:
    case SB_PAGEDOWN:
    case SB_THUMBTRACK: break;
    default: return;
    }
    m_nSliderSec = nPos;
    if (m_nZoom == 2) {
        m_nSliderSec = nSBCode == SB_LINEDOWN ? nPos - nPos % 60 + 60 : nPos - nPos % 60;
        const QSignalBlocker block(m_pSlider);
        m_pSlider->setSliderPosition(m_nSliderSec);
    }
    Redraw(-1);
}
