#include "liveview/video_wnd_coord.h"

bool CVideoWndCoord::IsLayout(int layout)
{
    for (int l : kLayouts)
        if (l == layout)
            return true;
    return false;
}

int CVideoWndCoord::GroupOffset(int layout)
{
    int off = 0;
    for (int l : kLayouts) {
        if (l == layout)
            return off;
        off += l;
    }
    return -1;
}

CVideoWndCoord::CVideoWndCoord(int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t layout)
    : m_left(left), m_top(top), m_right(right), m_bottom(bottom), m_layout(layout)
{
    const int off = layout <= 64 ? GroupOffset(static_cast<int>(layout)) : -1;
    if (off < 0)
        return;
    Cell* c = m_cells + off;
    const int32_t W = right - left, H = bottom - top;
    auto set = [&](int i, int32_t x, int32_t y, int32_t w, int32_t h) { c[i] = Cell{left + x, top + y, w, h}; };
    switch (layout) {
    case 6: {
        const int32_t cw = W / 3, ch = H / 3;
        set(0, 0, 0, 2 * cw, 2 * ch);
        set(1, 2 * cw, 0, cw, ch);
        set(2, 2 * cw, ch, cw, ch);
        set(3, 2 * cw, 2 * ch, cw, ch);
        set(4, cw, 2 * ch, cw, ch);
        set(5, 0, 2 * ch, cw, ch);
        break;
    }
    case 8: {
        const int32_t cw = W / 4, ch = H / 4;
        set(0, 0, 0, 3 * cw, 3 * ch);
        for (int j = 0; j < 4; ++j)
            set(1 + j, 3 * cw, j * ch, cw, ch);   // down the right column
        for (int j = 0; j < 3; ++j)
            set(5 + j, (2 - j) * cw, 3 * ch, cw, ch);   // right to left along the bottom
        break;
    }
    case 10: {
        const int32_t cw = W / 4, ch = H / 3;
        set(0, 0, 0, 2 * cw, ch);
        set(1, 2 * cw, 0, 2 * cw, ch);
        for (int j = 0; j < 4; ++j) {
            set(2 + j, j * cw, ch, cw, ch);
            set(6 + j, j * cw, 2 * ch, cw, ch);
        }
        break;
    }
    case 13: {
        const int32_t cw = W / 4, ch = H / 4;
        for (int j = 0; j < 4; ++j) {
            set(j, j * cw, 0, cw, ch);
            set(9 + j, j * cw, 3 * ch, cw, ch);
        }
        set(4, 0, ch, cw, ch);
        set(5, cw, ch, 2 * cw, 2 * ch);
        set(6, 3 * cw, ch, cw, ch);
        set(7, 0, 2 * ch, cw, ch);
        set(8, 3 * cw, 2 * ch, cw, ch);
        break;
    }
    default: {
        int k = 1;
        while (k * k < static_cast<int>(layout))
            ++k;
        const int32_t cw = W / k, ch = H / k;
        for (int i = 0; i < static_cast<int>(layout); ++i)
            set(i, (i % k) * cw, (i / k) * ch, cw, ch);
        break;
    }
    }
    m_bComputed = true;
}

bool CVideoWndCoord::GetCell(int i, Cell* out) const
{
    if (!m_bComputed || !out || i < 0 || i >= static_cast<int>(m_layout))
        return false;
    *out = m_cells[GroupOffset(static_cast<int>(m_layout)) + i];
    return true;
}
