// Small skinned widgets and DrawImagePart.
#include "ui/skin_widgets.h"

#include "core/helpers.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/wnd.h"
#include "ui/image/ximage.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

// --- DrawImagePart -----------------------------------------------------------------------

int DrawImagePart(CxImage* image, CDC* dc, int x, int y, int w, int h, int srcX, int srcY, int srcW, int srcH)
{
    if (!image || !dc || srcW <= 0 || srcH <= 0)
        return 0;
    // Crop takes the right and bottom edges inclusive.
    CxImage part;
    if (image->Crop(srcX, srcY, srcX + srcW - 1, srcY + srcH - 1, &part))
        part.Stretch(*dc, x, y, w, h, SRCCOPY);
    return 0;
}

// --- CSkinSlider -----------------------------------------------------------------------

CSkinSlider::CSkinSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
    LoadBarBitmap(qelm::MakePath("%s\\Images\\bar.bmp", GetAppDir().c_str()).c_str());
}

CSkinSlider::~CSkinSlider() = default;

BOOL CSkinSlider::LoadBarBitmap(const char* path)
{
    auto bar = std::make_unique<CxImage>(CXIMAGE_FORMAT_BMP);
    if (!path || !bar->Load(path, CXIMAGE_FORMAT_BMP) || !bar->IsValid()) {
        m_pBar.reset();
        update();
        return FALSE;
    }
    m_pBar = std::move(bar);
    update();
    return TRUE;
}

bool CSkinSlider::HasBarBitmap() const
{
    return m_pBar && m_pBar->IsValid();
}

void CSkinSlider::ShowThumb(BOOL bShow)
{
    bShow = bShow ? TRUE : FALSE;
    if (bShow == m_bShowThumb)
        return;
    m_bShowThumb = bShow;
    repaint();
}

void CSkinSlider::GetChannelRect(CRect* rect) const
{
    const int h = height();
    *rect = CRect(kChannelMargin, h / 2 - 2, std::max(kChannelMargin, width() - kChannelMargin), h / 2 + 2);
}

void CSkinSlider::GetThumbRect(CRect* rect) const
{
    CRect channel;
    GetChannelRect(&channel);
    const int span = maximum() - minimum();
    const long long offset = span > 0 ? static_cast<long long>(sliderPosition() - minimum()) * channel.Width() / span : 0;
    const int cx = channel.left + static_cast<int>(offset);
    *rect = CRect(cx - kThumbWidth / 2, 2, cx - kThumbWidth / 2 + kThumbWidth, std::max(2, height() - 2));
}

int CSkinSlider::ValueAt(int x) const
{
    CRect channel;
    GetChannelRect(&channel);
    if (channel.Width() <= 0)
        return minimum();
    const long long span = static_cast<long long>(maximum()) - minimum();
    const long long pos = std::clamp(x - channel.left, 0, channel.Width());
    return minimum() + static_cast<int>((pos * span + channel.Width() / 2) / channel.Width());
}

void CSkinSlider::paintEvent(QPaintEvent* e)
{
    if (!HasBarBitmap()) {
        QSlider::paintEvent(e);
        return;
    }
    ++m_nPaints;
    QPainter dc(this);
    const int w = width(), h = height();
    const int H = static_cast<int>(m_pBar->GetHeight());
    DrawImagePart(m_pBar.get(), &dc, 0, 0, w, h, 13, 0, 1, H);
    CRect channel;
    GetChannelRect(&channel);
    if (channel.left != 0)
        DrawImagePart(m_pBar.get(), &dc, 0, 0, channel.left, h, 0, 0, 1, H);
    if (channel.right != w)
        DrawImagePart(m_pBar.get(), &dc, channel.right, 0, w - channel.right, h, 0, 0, 1, H);
    if (m_bShowThumb) {
        CRect thumb;
        GetThumbRect(&thumb);
        DrawImagePart(m_pBar.get(), &dc, thumb.left, thumb.top, thumb.Width(), thumb.Height(), 23, 0, 9, H);
    }
    // Tick marks and the focus rectangle are not drawn.
}

void CSkinSlider::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) {
        QSlider::mousePressEvent(e);
        return;
    }
    CRect thumb;
    GetThumbRect(&thumb);
    const CPoint p(static_cast<int>(e->position().x()), static_cast<int>(e->position().y()));
    if (m_bShowThumb && thumb.PtInRect(p)) {
        m_bDragging = true;
        setSliderDown(true);
    } else {
        // A click beside the thumb pages towards the click, as a track bar does.
        triggerAction(p.x < thumb.left ? SliderPageStepSub : SliderPageStepAdd);
    }
    e->accept();
}

void CSkinSlider::mouseMoveEvent(QMouseEvent* e)
{
    if (!m_bDragging) {
        QSlider::mouseMoveEvent(e);
        return;
    }
    setSliderPosition(ValueAt(static_cast<int>(e->position().x())));
    e->accept();
}

void CSkinSlider::mouseReleaseEvent(QMouseEvent* e)
{
    if (!m_bDragging) {
        QSlider::mouseReleaseEvent(e);
        return;
    }
    m_bDragging = false;
    setSliderPosition(ValueAt(static_cast<int>(e->position().x())));
    setSliderDown(false);
    e->accept();
}

// --- CSkinStatic -----------------------------------------------------------------------

void CSkinStatic::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), qelm::ToQColor(RGB(248, 255, 248)));
    p.setFont(font());
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic, text());
}

// --- CTGroupBox --------------------------------------------------------------------------

void CTGroupBox::GetCaptionSpan(int* x1, int* x2) const
{
    const QFontMetrics fm(font());
    const QString caption = QStringLiteral(" %1 ").arg(title());
    const int cw = fm.horizontalAdvance(QString(caption).remove(QLatin1Char('&')));
    const int L = 0, R = width() - 1;
    int left;
    switch (m_dwStyle & BS_CENTER) {
    case BS_RIGHT: left = R - 10 - cw; break;
    case BS_CENTER: left = (width() - cw) / 2; break;
    default: left = L + 10; break;
    }
    if (x1)
        *x1 = left;
    if (x2)
        *x2 = left + cw;
}

void CTGroupBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setFont(font());
    const QFontMetrics fm(font());
    const QString caption = QStringLiteral(" %1 ").arg(title());
    const int ch = fm.height();
    // The last pixel row and column, so that the whole frame is visible.
    const int L = 0, T = 0, R = width() - 1, B = height() - 1;
    const int y = T + ch / 2;
    int x1 = 0, x2 = 0;
    GetCaptionSpan(&x1, &x2);

    const QColor shadow(160, 160, 160);    // COLOR_BTNSHADOW
    const QColor highlight(255, 255, 255); // COLOR_BTNHIGHLIGHT
    auto poly = [&](const QColor& c, std::initializer_list<QPoint> pts) {
        p.setPen(QPen(c, 1));
        p.drawPolyline(QPolygon(QList<QPoint>(pts)));
    };
    if (m_dwStyle & BS_FLAT) {
        poly(Qt::black, {{x1, y}, {L, y}, {L, B}, {R, B}, {R, y}, {x2, y}});
        poly(highlight, {{x1, y + 1}, {L + 1, y + 1}, {L + 1, B - 1}, {R - 1, B - 1}, {R - 1, y + 1}, {x2, y + 1}});
    } else {
        poly(shadow, {{x1, y}, {L, y}, {L, B - 1}, {R - 1, B - 1}, {R - 1, y}, {x2, y}});
        poly(highlight, {{x1, y + 1}, {L + 1, y + 1}, {L + 1, B - 1}});
        poly(highlight, {{L, B}, {R, B}, {R, y - 1}});
        poly(highlight, {{R - 2, y + 1}, {x2, y + 1}});
    }
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextShowMnemonic | Qt::TextDontClip;
    if (isEnabled()) {
        p.setPen(palette().color(QPalette::Active, QPalette::WindowText));
        p.drawText(QRect(x1, y - ch / 2, x2 - x1, ch), flags, caption);
    } else {
        // Greyed: an embossed caption with its top-left corner at (x1, T).
        const int top = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextShowMnemonic | Qt::TextDontClip;
        p.setPen(highlight);
        p.drawText(QRect(x1 + 1, T + 1, x2 - x1, ch), top, caption);
        p.setPen(shadow);
        p.drawText(QRect(x1, T, x2 - x1, ch), top, caption);
    }
}

// --- CTransparentStatic ---------------------------------------------------------------------

CTransparentStatic::CTransparentStatic(QWidget* parent) : QLabel(parent)
{
    setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground, true);
}

void CTransparentStatic::SetTextW(const wchar_t* text)
{
    setText(text ? QString::fromWCharArray(text) : QString());
}

void CTransparentStatic::SetText(const char* text)
{
    setText(QString::fromUtf8(text ? text : ""));
}

void CTransparentStatic::PaintText()
{
    // Painting happens in the paint event; this asks for it now.
    repaint();
}

void CTransparentStatic::SetTextColor(COLORREF color)
{
    m_crText = color;
    update();
}

int CTransparentStatic::TextFlags() const
{
    int flags = 0;
    if (m_dwStyle & SS_CENTER && !(m_dwStyle & SS_RIGHT))
        flags |= Qt::AlignHCenter;
    else if (m_dwStyle & SS_RIGHT && !(m_dwStyle & SS_CENTER))
        flags |= Qt::AlignRight;
    else
        flags |= Qt::AlignLeft;
    if (m_dwStyle & SS_CENTERIMAGE)
        flags |= Qt::AlignVCenter | Qt::TextSingleLine;
    else
        flags |= Qt::AlignTop;
    if (!(m_dwStyle & SS_NOPREFIX))
        flags |= Qt::TextShowMnemonic;
    if (!(m_dwStyle & (0x4 | 0x8 | SS_CENTERIMAGE | SS_ENDELLIPSIS | SS_PATHELLIPSIS)))
        flags |= Qt::TextWordWrap;
    return flags;
}

bool CTransparentStatic::ElideMode(Qt::TextElideMode* mode) const
{
    switch (m_dwStyle & SS_ELLIPSISMASK) {
    case SS_ENDELLIPSIS: *mode = Qt::ElideRight; return true;
    case SS_PATHELLIPSIS: *mode = Qt::ElideMiddle; return true;
    case SS_WORDELLIPSIS: *mode = Qt::ElideRight; return true;
    default: return false;
    }
}

void CTransparentStatic::paintEvent(QPaintEvent*)
{
    // Nothing is erased: the text lands on whatever the area shows.
    QPainter p(this);
    p.setFont(font());
    p.setPen(qelm::ToQColor(m_crText));
    QString s = text();
    Qt::TextElideMode elide;
    if (ElideMode(&elide)) {
        const QFontMetrics fm(font());
        QStringList lines = s.split(QLatin1Char('\n'));
        for (QString& line : lines)
            line = fm.elidedText(line, elide, width());
        s = lines.join(QLatin1Char('\n'));
    }
    p.drawText(rect(), TextFlags(), s);
}

// --- CXImageButton -----------------------------------------------------------------------

CXImageButton::CXImageButton(QWidget* parent) : QPushButton(parent)
{
    setAutoDefault(false);
}

QFont CXImageButton::CaptionFont()
{
    QFont f;
    f.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("WenQuanYi Micro Hei")});
    f.setPointSize(11);
    return f;
}

BOOL CXImageButton::SetImagePath(const char* path)
{
    m_strImagePath = path ? path : "";
    update();
    return TRUE;
}

void CXImageButton::SetButtonTextW(const wchar_t* text)
{
    m_strCaption = text ? text : L"";
    m_bDrawCaption = TRUE;
    setText(QString::fromStdWString(m_strCaption));
    update();
}

void CXImageButton::SetTextColor(COLORREF color)
{
    m_crText = color;
    update();
}

void CXImageButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    CRect rc;
    rc = CRect(rect());
    // The picture is decoded on every paint; a missing file draws nothing.
    if (!m_strImagePath.empty())
        m_gdi.DrawImageFile(m_strImagePath.c_str(), rc, &p);
    if (m_bDrawCaption) {
        p.setFont(CaptionFont());
        p.setPen(qelm::ToQColor(m_crText));
        p.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic, QString::fromStdWString(m_strCaption));
    }
}
