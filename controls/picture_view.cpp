// Picture code shared by the players: scaling, fitting, zoom and snapshots.
#include "controls/picture_view.h"

#include <algorithm>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

namespace qelm {

namespace {

constexpr int kMaxSide = kMaxPictureSide;

bool IsYuv420(int format)
{
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

// Maps a pane point into the shown picture, in fractions of the whole picture.
QPointF ToPicture(const QPointF& pt, const QRectF& dst, const QRectF& zoom, bool flip)
{
    double fx = dst.width() > 0 ? (pt.x() - dst.left()) / dst.width() : 0;
    const double fy = dst.height() > 0 ? (pt.y() - dst.top()) / dst.height() : 0;
    if (flip)
        fx = 1 - fx;
    return {zoom.left() + std::clamp(fx, 0.0, 1.0) * zoom.width(), zoom.top() + std::clamp(fy, 0.0, 1.0) * zoom.height()};
}

// dst (w x h) = 2x2 averages of src (2w x 2h).
void HalvePlane(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, int w, int h)
{
    for (int y = 0; y < h; ++y) {
        const uint8_t* a = src + size_t(2 * y) * size_t(srcStride);
        const uint8_t* b = a + srcStride;
        uint8_t* d = dst + size_t(y) * size_t(dstStride);
        for (int x = 0; x < w; ++x)
            d[x] = uint8_t((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2);
    }
}

} // namespace

void PictureScaler::Free()
{
    av_frame_free(&half);
    sws_freeContext(scale);
    sws_freeContext(convert);
    scale = convert = nullptr;
    av_freep(&planes[0]);
    planeW = planeH = 0;
    planeFormat = -1;
}

QImage FrameToImage(PictureScaler& sc, const AVFrame* f, QSize size)
{
    if (!f || f->width <= 0 || f->height <= 0 || f->width > kMaxSide || f->height > kMaxSide || size.isEmpty())
        return {};
    const int w = size.width(), h = size.height();
    // Halving by 2x2 averages first is several times cheaper than swscale's
    // scaler for the same step (1080p into a 960x540 pane needs no more).
    if (IsYuv420(f->format) && w * 2 <= f->width && h * 2 <= f->height && f->width % 4 == 0 && f->height % 4 == 0) {
        if (!sc.half || sc.half->width != f->width / 2 || sc.half->height != f->height / 2 ||
            sc.half->format != f->format) {
            av_frame_free(&sc.half);
            sc.half = av_frame_alloc();
            if (!sc.half)
                return {};
            sc.half->width = f->width / 2;
            sc.half->height = f->height / 2;
            sc.half->format = f->format;
            if (av_frame_get_buffer(sc.half, 32) < 0) {
                av_frame_free(&sc.half);
                return {};
            }
        }
        for (int plane = 0; plane < 3; ++plane) {
            const int pw = plane ? sc.half->width / 2 : sc.half->width;
            const int ph = plane ? sc.half->height / 2 : sc.half->height;
            HalvePlane(f->data[plane], f->linesize[plane], sc.half->data[plane], sc.half->linesize[plane], pw, ph);
        }
        f = sc.half;
    }
    const bool twoStep = IsYuv420(f->format) && (w != f->width || h != f->height);
    const AVPixelFormat format = AVPixelFormat(f->format);
    if (twoStep && (sc.planeW != w || sc.planeH != h || sc.planeFormat != f->format)) {
        av_freep(&sc.planes[0]);
        sc.planeW = sc.planeH = 0;
        if (av_image_alloc(sc.planes, sc.strides, w, h, format, 32) < 0)
            return {};
        sc.planeW = w;
        sc.planeH = h;
        sc.planeFormat = f->format;
    }
    sc.scale = sws_getCachedContext(sc.scale, f->width, f->height, format, w, h,
                                    twoStep ? format : AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (twoStep)
        sc.convert = sws_getCachedContext(sc.convert, w, h, format, w, h, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr,
                                          nullptr, nullptr);
    if (!sc.scale || (twoStep && !sc.convert))
        return {};
    // swscale's vector code writes whole blocks of pixels past the end of a
    // line whose width is not a multiple of the block: give every line, and
    // the buffer's end, room for that.
    const int lineBytes = ((w + 31) & ~31) * 4;
    const size_t bytes = size_t(lineBytes) * size_t(h) + 256;
    auto* buf = static_cast<uint8_t*>(av_malloc(bytes));
    if (!buf)
        return {};
    QImage img(buf, w, h, lineBytes, QImage::Format_RGB32, [](void* p) { av_free(p); }, buf);
    if (img.isNull()) {
        av_free(buf);
        return {};
    }
    uint8_t* dst[4] = {buf, nullptr, nullptr, nullptr};
    int stride[4] = {lineBytes, 0, 0, 0};
    if (twoStep) {
        if (sws_scale(sc.scale, f->data, f->linesize, 0, f->height, sc.planes, sc.strides) <= 0 ||
            sws_scale(sc.convert, sc.planes, sc.strides, 0, h, dst, stride) <= 0)
            return {};
    } else if (sws_scale(sc.scale, f->data, f->linesize, 0, f->height, dst, stride) <= 0) {
        return {};
    }
    return img;
}

bool SaveFrameSnapshot(const AVFrame* f, const QString& path, const char* format)
{
    if (!f || f->width <= 0 || f->height <= 0 || path.isEmpty())
        return false;
    PictureScaler scaler;
    const QImage img = FrameToImage(scaler, f, QSize(f->width, f->height));
    return !img.isNull() && img.save(path, format, 90);
}

QRectF FitPicture(const QRectF& all, const QSize& source, bool fill)
{
    if (fill || source.isEmpty())
        return all;
    QSizeF s(source);
    s.scale(all.size(), Qt::KeepAspectRatio);
    return QRectF(all.center().x() - s.width() / 2, all.center().y() - s.height() / 2, s.width(), s.height());
}

void PictureZoom::SetMode(int32_t mode)
{
    m_mode = mode;
    if (mode == kOff)
        m_part = QRectF(0, 0, 1, 1);
    m_dragging = false;
}

QRectF PictureZoom::SourceRect(const QSize& img) const
{
    return QRectF(m_part.x() * img.width(), m_part.y() * img.height(), m_part.width() * img.width(),
                  m_part.height() * img.height());
}

QRect PictureZoom::DragFrame() const
{
    return m_dragging && m_mode == kIn ? QRect(m_dragStart, m_dragNow).normalized() : QRect();
}

void PictureZoom::Clamp()
{
    QRectF z = m_part;
    z.setWidth(std::clamp(z.width(), 1.0 / 16, 1.0));
    z.setHeight(std::clamp(z.height(), 1.0 / 16, 1.0));
    z.moveLeft(std::clamp(z.left(), 0.0, 1.0 - z.width()));
    z.moveTop(std::clamp(z.top(), 0.0, 1.0 - z.height()));
    m_part = z;
}

bool PictureZoom::Press(const QPoint& at, bool leftButton)
{
    if (m_mode == kOff || !leftButton)
        return false;
    m_dragStart = m_dragNow = at;
    m_dragging = true;
    return true;
}

bool PictureZoom::Move(const QPoint& now, const QRectF& dst, bool flip)
{
    if (!m_dragging)
        return false;
    if (m_mode == kMove && dst.width() > 0 && dst.height() > 0) {
        double dx = (now.x() - m_dragNow.x()) / dst.width() * m_part.width();
        if (flip)
            dx = -dx;
        m_part.translate(-dx, -(now.y() - m_dragNow.y()) / dst.height() * m_part.height());
        Clamp();
    }
    m_dragNow = now;
    return true;
}

bool PictureZoom::Release(const QPoint& end, const QRectF& dst, bool flip)
{
    if (!m_dragging)
        return false;
    m_dragging = false;
    if (m_mode == kIn) {
        const QRect sel = QRect(m_dragStart, end).normalized();
        if (sel.width() > 4 && sel.height() > 4) {
            const QPointF a = ToPicture(sel.topLeft(), dst, m_part, flip);
            const QPointF b = ToPicture(sel.bottomRight(), dst, m_part, flip);
            m_part = QRectF(a, b).normalized();
        } else {
            const QPointF c = ToPicture(end, dst, m_part, flip);
            m_part = QRectF(c.x() - m_part.width() / 4, c.y() - m_part.height() / 4, m_part.width() / 2,
                            m_part.height() / 2);
        }
        Clamp();
    } else if (m_mode == kOut) {
        const QPointF c = m_part.center();
        m_part = QRectF(c.x() - m_part.width(), c.y() - m_part.height(), m_part.width() * 2, m_part.height() * 2);
        Clamp();
    }
    return true;
}

} // namespace qelm
