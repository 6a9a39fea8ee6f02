// The skinned push button: faces prepared once from one picture, hover
// colouring of the caption, tooltips.
#include "ui/gdip_button.h"

#include "platform/text.h"
#include "platform/wnd.h"

#include <QEnterEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cmath>

namespace {

// Applies out = in x m[0..2][0..2] + m[3] to the colour of every pixel, on
// straight (not premultiplied) values in 0..1, clamped, alpha unchanged.
QImage ColorMatrix(const QImage& src, const float m[4][3])
{
    QImage img = src.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const float in[3] = {qRed(line[x]) / 255.0f, qGreen(line[x]) / 255.0f, qBlue(line[x]) / 255.0f};
            int out[3];
            for (int c = 0; c < 3; ++c) {
                const float v = in[0] * m[0][c] + in[1] * m[1][c] + in[2] * m[2][c] + m[3][c];
                out[c] = static_cast<int>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
            }
            line[x] = qRgba(out[0], out[1], out[2], qAlpha(line[x]));
        }
    }
    return img;
}

} // namespace

CGdipButton::CGdipButton(QWidget* parent) : QPushButton(parent)
{
    setAttribute(Qt::WA_Hover, true);
    setMouseTracking(true);
    setAutoDefault(false);
}

CGdipButton::~CGdipButton() = default;

QImage CGdipButton::HotImage(const QImage& src)
{
    static const float hot[4][3] = {{1.05f, 0, 0}, {0, 1.05f, 0}, {0, 0, 1.05f}, {0.05f, 0.05f, 0.05f}};
    return ColorMatrix(src, hot);
}

QImage CGdipButton::GreyImage(const QImage& src)
{
    static const float grey[4][3] = {{0.3f, 0.3f, 0.3f}, {0.59f, 0.59f, 0.59f}, {0.11f, 0.11f, 0.11f}, {0, 0, 0}};
    return ColorMatrix(src, grey);
}

void CGdipButton::DiscardFaces()
{
    for (QImage& f : m_faces)
        f = QImage();
    m_bFacesPrepared = false;
    m_nCurrentFace = FaceNone;
}

BOOL CGdipButton::LoadImageResource(UINT id, const char* pType)
{
    // Dialogs reload their faces from every repaint of their background; the
    // same picture over an unchanged background needs neither a rebuild nor
    // a repaint (which would paint the background again, and so on).
    if (m_pImage && m_pImage->GetBitmap() && id == m_nImageId && !m_bBackgroundChanged && m_bFacesPrepared)
        return TRUE;
    DiscardFaces();
    m_pImage = std::make_unique<CGdiPlusBitmapResource>();
    m_nImageId = id;
    m_bBackgroundChanged = false;
    const BOOL ok = m_pImage->Load(id, pType);
    update();
    return ok;
}

void CGdipButton::CaptureBackground(CDC* pDC)
{
    if (!pDC || !pDC->isActive() || !pDC->device())
        return;
    QPaintDevice* device = pDC->device();
    QImage source;
    if (device->devType() == QInternal::Image)
        source = *static_cast<QImage*>(device);
    else if (device->devType() == QInternal::Pixmap)
        source = static_cast<QPixmap*>(device)->toImage();
    else
        return; // a window's painter cannot be read back
    const QImage copy = source.copy(geometry()).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (copy != m_background) {
        m_background = copy;
        m_bBackgroundChanged = true;
    }
}

void CGdipButton::SetButtonTextW(const wchar_t* text)
{
    m_strCaption = text ? text : L"";
    m_bDrawCaption = true;
    // The caption is also the button's text, which is what a reader of the
    // window (the automation endpoint) sees.
    setText(QString::fromStdWString(m_strCaption));
    update();
}

void CGdipButton::SetButtonText(const char* text)
{
    std::wstring wide;
    if (!AnsiToWide(text ? text : "", wide))
        wide.clear();
    SetButtonTextW(wide.c_str());
}

void CGdipButton::SetTextColor(COLORREF color)
{
    m_bTextColorFixed = color == kSelectedCaptionColor;
    if (m_crText != color) {
        m_crText = color;
        update();
    }
}

void CGdipButton::SetTooltipText(const char* text, BOOL bActivate)
{
    if (!text || !*text)
        return;
    m_strTooltip = text;
    m_bTooltipActive = bActivate != FALSE;
    setToolTip(QString::fromUtf8(text));
}

void CGdipButton::SetTooltipTextW(const wchar_t* text, BOOL bActivate)
{
    std::string narrow;
    if (!text || !WideToAnsi(text, narrow))
        return;
    SetTooltipText(narrow.c_str(), bActivate);
}

const QImage& CGdipButton::GetFace(Face face) const
{
    static const QImage none;
    if (face < FaceNormal || face > FaceGrey)
        return none;
    return m_faces[face];
}

void CGdipButton::PrepareFaces()
{
    if (m_bFacesPrepared || !m_pImage || !m_pImage->GetBitmap())
        return;
    const QImage image = m_pImage->GetBitmap()->convertToFormat(QImage::Format_ARGB32);
    const QSize client = size();
    const int w = image.width(), h = image.height();
    // The picture at its own size at the top-left corner, over the captured
    // background where there is one.
    auto compose = [&](const QImage& picture) {
        QImage face(client, QImage::Format_ARGB32_Premultiplied);
        face.fill(Qt::transparent);
        QPainter p(&face);
        if (!m_background.isNull())
            p.drawImage(0, 0, m_background);
        p.drawImage(QRect(0, 0, w, h), picture, QRect(0, 0, w, h));
        return face;
    };
    m_faces[FaceNormal] = compose(image);
    // Drawn from (1, 1): the picture lands one pixel up and to the left.
    m_faces[FacePressed] = compose(image.copy(1, 1, w, h));
    m_faces[FaceHot] = compose(HotImage(image));
    m_faces[FaceGrey] = compose(GreyImage(image));
    if (m_nCurrentFace == FaceNone)
        m_nCurrentFace = FaceNormal;
    m_bFacesPrepared = true;
}

void CGdipButton::paintEvent(QPaintEvent*)
{
    PrepareFaces();
    QPainter p(this);
    // A disabled button shows the same faces; the grey one is never chosen.
    if (m_bFacesPrepared) {
        m_nCurrentFace = isDown() ? FacePressed : m_bHovering ? FaceHot : FaceNormal;
        p.drawImage(0, 0, m_faces[m_nCurrentFace]);
    }
    if (m_bDrawCaption) {
        p.setPen(qelm::ToQColor(m_crText));
        p.setFont(font());
        p.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic, QString::fromStdWString(m_strCaption));
    }
}

void CGdipButton::OnMouseHover()
{
    if (!m_bTextColorFixed)
        m_crText = kSelectedCaptionColor;
    m_bHovering = true;
    // The tip is set up again, active, from the stored text.
    if (!m_strTooltip.empty()) {
        m_bTooltipActive = true;
        setToolTip(QString::fromStdString(m_strTooltip));
    }
    update();
}

void CGdipButton::OnMouseLeave()
{
    if (!m_bTextColorFixed)
        m_crText = 0;
    m_bTracking = false;
    m_bHovering = false;
    update();
}

void CGdipButton::enterEvent(QEnterEvent* e)
{
    QPushButton::enterEvent(e);
    m_bTracking = true;
    OnMouseHover();
}

void CGdipButton::leaveEvent(QEvent* e)
{
    QPushButton::leaveEvent(e);
    OnMouseLeave();
}

void CGdipButton::mouseMoveEvent(QMouseEvent* e)
{
    if (!m_bTracking) {
        m_bTracking = true;
        OnMouseHover();
    }
    QPushButton::mouseMoveEvent(e);
}

void CGdipButton::resizeEvent(QResizeEvent* e)
{
    QPushButton::resizeEvent(e);
    // The faces are client-sized.
    if (m_bFacesPrepared)
        DiscardFaces();
}

bool CGdipButton::event(QEvent* e)
{
    if (e->type() == QEvent::ToolTip && !m_bTooltipActive)
        return true;
    return QPushButton::event(e);
}
