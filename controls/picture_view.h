// Picture code shared by the players in this folder: decoded frames to Qt
// images, where a picture sits in its pane, the mouse zoom, snapshots.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRectF>
#include <QSize>
#include <QString>

#include <cstdint>

struct AVFrame;
struct SwsContext;

namespace qelm {

// Pictures larger than this on a side are refused: no source sends them, and
// they would make the conversion buffers unbounded.
inline constexpr int kMaxPictureSide = 8192;

// Decoded pictures to RGB32 of a chosen size. Scaling the YUV planes first and
// converting at the output size costs about a fifth less than doing both in
// one pass, as the unscaled YUV to RGB conversion has its own fast path.
struct PictureScaler {
    PictureScaler() = default;
    PictureScaler(const PictureScaler&) = delete;
    PictureScaler& operator=(const PictureScaler&) = delete;
    ~PictureScaler() { Free(); }
    void Free();

    SwsContext* scale = nullptr;    // source to planes (or straight to RGB32)
    SwsContext* convert = nullptr;  // planes to RGB32, same size
    uint8_t* planes[4] = {};        // the scaled picture, in the source's YUV format
    int strides[4] = {};
    int planeW = 0, planeH = 0, planeFormat = -1;
    AVFrame* half = nullptr;        // the source halved, when the output is at most half of it
};

// Converts a decoded frame to an RGB32 picture of the given size; null on a
// bad frame or size.
QImage FrameToImage(PictureScaler& scaler, const AVFrame* frame, QSize size);

// Saves the frame at its own size as "JPG" or "BMP"; false on failure.
bool SaveFrameSnapshot(const AVFrame* frame, const QString& path, const char* format);

// Where a picture of the source size goes in the area: all of it when filling,
// else centred with its proportions kept.
QRectF FitPicture(const QRectF& area, const QSize& source, bool fill);

// The shown part of a picture (fractions of it) and the mouse modes that
// change it: 1 zoom in (click or drag a frame), 2 zoom out, 3 move.
class PictureZoom {
public:
    enum Mode : int32_t { kOff = 0, kIn = 1, kOut = 2, kMove = 3 };

    // A new mode; leaving the zoom modes (kOff) shows the whole picture again.
    void SetMode(int32_t mode);
    int32_t Mode() const { return m_mode; }
    QRectF Part() const { return m_part; }
    bool Zoomed() const { return m_part != QRectF(0, 0, 1, 1); }
    // The part of an image of this size to draw.
    QRectF SourceRect(const QSize& image) const;
    // The frame being dragged in zoom-in mode, or null.
    QRect DragFrame() const;

    // Mouse handling over a picture drawn at dst. Each returns true when it
    // took the event; Move and Release also when the shown part changed.
    bool Press(const QPoint& at, bool leftButton);
    bool Move(const QPoint& at, const QRectF& dst, bool flip);
    bool Release(const QPoint& at, const QRectF& dst, bool flip);

private:
    void Clamp();

    int32_t m_mode = kOff;
    QRectF m_part{0, 0, 1, 1};
    QPoint m_dragStart;
    QPoint m_dragNow;
    bool m_dragging = false;
};

} // namespace qelm
