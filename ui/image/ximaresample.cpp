// CxImage::Resample: nearest pixel, bicubic B-spline, bilinear, and box
// averaging for true-colour images that shrink both ways.
#include "ui/image/ximage.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

float KernelBSpline(float x)
{
    if (x > 2.0f)
        return 0.0f;
    auto p = [](float u) { return u > 0.0f ? u * u * u : 0.0f; };
    return (p(x + 2.0f) - 4.0f * p(x + 1.0f) + 6.0f * p(x) - 4.0f * p(x - 1.0f)) * 0.16666667f;
}

BYTE ToByte(float v)
{
    if (!(v > 0.0f))
        return 0;
    if (v >= 255.0f)
        return 255;
    return static_cast<BYTE>(v);
}

// How a source pixel of a shrink spreads over at most two destination cells:
// cell index and weight in thousandths of the source pixel.
struct Share {
    long cell[2];
    long weight[2];
    int n;
};

std::vector<Share> Shares(long srcSize, long dstSize, float scale)
{
    std::vector<Share> out(static_cast<std::size_t>(srcSize));
    for (long s = 0; s < srcSize; ++s) {
        Share& sh = out[static_cast<std::size_t>(s)];
        const long d0 = std::min<long>(static_cast<long>(s / static_cast<double>(scale)), dstSize - 1);
        const double boundary = (d0 + 1) * static_cast<double>(scale);
        if (s + 1 <= boundary || d0 + 1 >= dstSize) {
            sh = Share{{d0, 0}, {1000, 0}, 1};
        } else {
            const long w0 = std::clamp<long>(std::lround((boundary - s) * 1000.0), 0, 1000);
            sh = Share{{d0, d0 + 1}, {w0, 1000 - w0}, 2};
        }
    }
    return out;
}

} // namespace

bool CxImage::Resample(long newx, long newy, int mode, CxImage* iDst)
{
    if (newx == 0 || newy == 0)
        return false;
    if (!pDib || newx < 0 || newy < 0 || newx > 0xFFFFFFFFL || newy > 0xFFFFFFFFL)
        return false;
    if (newx == static_cast<long>(GetWidth()) && newy == static_cast<long>(GetHeight())) {
        if (iDst)
            iDst->Copy(*this);
        return true;
    }

    const float xScale = static_cast<float>(GetWidth()) / static_cast<float>(newx);
    const float yScale = static_cast<float>(GetHeight()) / static_cast<float>(newy);

    CxImage newImage;
    newImage.CopyInfoBlock(*this);
    if (!newImage.Create(static_cast<DWORD>(newx), static_cast<DWORD>(newy), head.biBitCount, info.dwType)) {
        SetLastErrorText(newImage.info.szLastError);
        return false;
    }
    newImage.SetPalette(GetPalette(), 256);

    if (mode == 1)
        ResampleNearest(newImage, xScale, yScale);
    else if (mode == 2)
        ResampleBicubic(newImage, xScale, yScale);
    else if (head.biBitCount == 24 && newx < static_cast<long>(GetWidth()) && newy < static_cast<long>(GetHeight()))
        ResampleBox(newImage, xScale, yScale);
    else
        ResampleBilinear(newImage, xScale, yScale);

    if (pAlpha) {
        if (mode == 1) {
            if (newImage.CreateAlpha()) {
                for (long y = 0; y < newy; ++y) {
                    const long sy = static_cast<long>(static_cast<float>(y) * yScale);
                    for (long x = 0; x < newx; ++x)
                        newImage.SetAlpha(x, y, GetAlpha(static_cast<long>(static_cast<float>(x) * xScale), sy));
                }
            }
        } else {
            CxImage gray;
            if (SplitAlpha(&gray) && gray.Resample(newx, newy, mode, nullptr))
                newImage.SetAlphaFromGray(gray);
        }
    }

    (iDst ? iDst : this)->Transfer(newImage);
    return true;
}

void CxImage::ResampleNearest(CxImage& dst, float xScale, float yScale)
{
    const long newx = dst.GetWidth();
    const long newy = dst.GetHeight();
    std::vector<long> column(static_cast<std::size_t>(newx));
    for (long x = 0; x < newx; ++x)
        column[static_cast<std::size_t>(x)] = static_cast<long>(static_cast<float>(x) * xScale);
    for (long y = 0; y < newy; ++y) {
        info.nProgress = static_cast<LONG>(100 * y / newy);
        if (info.nEscape)
            break;
        const long sy = static_cast<long>(static_cast<float>(y) * yScale);
        for (long x = 0; x < newx; ++x)
            dst.SetPixelColor(x, y, GetPixelColor(column[static_cast<std::size_t>(x)], sy, true), false);
    }
}

void CxImage::ResampleBicubic(CxImage& dst, float xScale, float yScale)
{
    const long newx = dst.GetWidth();
    const long newy = dst.GetHeight();
    const long w = GetWidth();
    const long h = GetHeight();
    for (long y = 0; y < newy; ++y) {
        info.nProgress = static_cast<LONG>(100 * y / newy);
        if (info.nEscape)
            break;
        const float fy = static_cast<float>(y) * yScale - 0.5f;
        const long iy = static_cast<long>(std::floor(fy));
        const float a = fy - static_cast<float>(iy);
        for (long x = 0; x < newx; ++x) {
            const float fx = static_cast<float>(x) * xScale - 0.5f;
            const long ix = static_cast<long>(std::floor(fx));
            const float b = fx - static_cast<float>(ix);
            float rr = 0.0f, gg = 0.0f, bb = 0.0f;
            for (int m = -1; m < 3; ++m) {
                const float r1 = KernelBSpline(static_cast<float>(m) - a);
                const long sy = std::clamp<long>(iy + m, 0, h - 1);
                for (int n = -1; n < 3; ++n) {
                    const float r2 = KernelBSpline(b - static_cast<float>(n));
                    const long sx = std::clamp<long>(ix + n, 0, w - 1);
                    const RGBQUAD c = BlindGetPixelColor(sx, sy, false);
                    const float k = r1 * r2;
                    rr += c.rgbRed * k;
                    gg += c.rgbGreen * k;
                    bb += c.rgbBlue * k;
                }
            }
            dst.SetPixelColor(x, y, RGBQUAD{ToByte(bb), ToByte(gg), ToByte(rr), 0}, false);
        }
    }
}

void CxImage::ResampleBilinear(CxImage& dst, float xScale, float yScale)
{
    const long newx = dst.GetWidth();
    const long newy = dst.GetHeight();
    const long w = GetWidth();
    const long h = GetHeight();
    for (long y = 0; y < newy; ++y) {
        info.nProgress = static_cast<LONG>(100 * y / newy);
        if (info.nEscape)
            break;
        const float fY = static_cast<float>(y) * yScale;
        const long iy = std::min<long>(static_cast<long>(fY), h - 1);
        const long iy1 = std::min<long>(iy + 1, h - 1);
        const float dy = fY - static_cast<float>(iy);
        for (long x = 0; x < newx; ++x) {
            const float fX = static_cast<float>(x) * xScale;
            const long ix = std::min<long>(static_cast<long>(fX), w - 1);
            const long ix1 = std::min<long>(ix + 1, w - 1);
            const float dx = fX - static_cast<float>(ix);
            const RGBQUAD c11 = BlindGetPixelColor(ix, iy, false);
            const RGBQUAD c21 = BlindGetPixelColor(ix1, iy, false);
            const RGBQUAD c12 = BlindGetPixelColor(ix, iy1, false);
            const RGBQUAD c22 = BlindGetPixelColor(ix1, iy1, false);
            auto mix = [&](BYTE v11, BYTE v21, BYTE v12, BYTE v22) {
                const float c1 = v11 + dy * (v12 - v11);
                const float c2 = v21 + dy * (v22 - v21);
                return ToByte(c1 + dx * (c2 - c1));
            };
            dst.SetPixelColorRef(x, y,
                                 RGB(mix(c11.rgbRed, c21.rgbRed, c12.rgbRed, c22.rgbRed),
                                     mix(c11.rgbGreen, c21.rgbGreen, c12.rgbGreen, c22.rgbGreen),
                                     mix(c11.rgbBlue, c21.rgbBlue, c12.rgbBlue, c22.rgbBlue)));
        }
    }
}

// Fixed-point box average: each source pixel adds itself to the cells it
// overlaps, weighted in thousandths of its width and of its height; a row
// accumulator sums one source row across, two cell-row accumulators take it.
void CxImage::ResampleBox(CxImage& dst, float xScale, float yScale)
{
    const long newx = dst.GetWidth();
    const long newy = dst.GetHeight();
    const long w = GetWidth();
    const long h = GetHeight();
    const std::vector<Share> xs = Shares(w, newx, xScale);
    const std::vector<Share> ys = Shares(h, newy, yScale);
    const std::int64_t divisor =
        std::max<std::int64_t>(1, static_cast<std::int64_t>(static_cast<double>(xScale) * yScale * 1000.0));
    const std::size_t cells = static_cast<std::size_t>(newx) * 3;
    std::vector<std::int64_t> rowAcc(cells), cur(cells, 0), next(cells, 0);
    long curRow = 0;

    auto flush = [&](std::vector<std::int64_t>& acc, long row) {
        if (row >= newy)
            return;
        BYTE* out = dst.pImage + static_cast<std::size_t>(row) * dst.info.dwEffWidth;
        for (std::size_t i = 0; i < cells; ++i)
            out[i] = static_cast<BYTE>(std::min<std::int64_t>(255, acc[i] / 1000 / divisor));
    };

    for (long sy = 0; sy < h; ++sy) {
        info.nProgress = static_cast<LONG>(100 * sy / h);
        if (info.nEscape)
            break;
        std::fill(rowAcc.begin(), rowAcc.end(), 0);
        const BYTE* src = pImage + static_cast<std::size_t>(sy) * info.dwEffWidth;
        for (long sx = 0; sx < w; ++sx) {
            const Share& sh = xs[static_cast<std::size_t>(sx)];
            for (int k = 0; k < sh.n; ++k)
                for (int c = 0; c < 3; ++c)
                    rowAcc[static_cast<std::size_t>(sh.cell[k]) * 3 + c] += src[3 * sx + c] * sh.weight[k];
        }
        const Share& sh = ys[static_cast<std::size_t>(sy)];
        while (sh.cell[0] > curRow) {
            flush(cur, curRow);
            cur.swap(next);
            std::fill(next.begin(), next.end(), 0);
            ++curRow;
        }
        for (std::size_t i = 0; i < cells; ++i) {
            cur[i] += rowAcc[i] * sh.weight[0];
            if (sh.n > 1)
                next[i] += rowAcc[i] * sh.weight[1];
        }
    }
    flush(cur, curRow);
    flush(next, curRow + 1);
}
