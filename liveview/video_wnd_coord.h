// CVideoWndCoord: the pane rectangles of the grid's twelve layouts, for one
// layout and one area. Pure arithmetic, no windows.
#pragma once

#include <cstdint>

class CVideoWndCoord {
public:
    struct Cell {
        int32_t x, y, w, h;
    };

    // The layouts in the order of their groups.
    static constexpr int kLayouts[12] = {1, 4, 6, 8, 9, 10, 13, 16, 25, 36, 49, 64};
    static constexpr int kCellCount = 241;

    static bool IsLayout(int layout);

    // Computes the cells of layout inside (left, top, right, bottom); a value
    // that is none of the twelve layouts computes nothing.
    CVideoWndCoord(int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t layout);
    virtual ~CVideoWndCoord() = default;

    // Rectangle of pane i of the constructor's layout (0 <= i < layout);
    // false for anything else.
    bool GetCell(int i, Cell* out) const;
    bool Computed() const { return m_bComputed; }

private:
    static int GroupOffset(int layout);

    Cell m_cells[kCellCount] = {};
    int32_t m_left, m_top, m_right, m_bottom;
    uint32_t m_layout;
    bool m_bComputed = false;
};
