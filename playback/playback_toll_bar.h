// CPlayBackTollBar: the time line of the record search page's by-date mode
// (template 338). One row per day slot of the page: the slot's minute map as
// coloured bars, a name column, a time scale, a cursor per row, three zooms
// and a slider. A double click on a row asks the owner to play it.
#pragma once

#include "platform/dialog.h"

#include <cstdint>
#include <map>

// Posted to the owner: wParam row, lParam second of the day or kNameColumn.
inline constexpr UINT WM_TIMEBAR_DBLCLK = WM_USER + 5000;

struct CTimeBarRow;

class CPlayBackTollBar : public CDialog {
public:
    enum { IDD = 338 };
    static constexpr int kNameColumn = -100;

    explicit CPlayBackTollBar(CWnd* pOwner);
    ~CPlayBackTollBar() override;

    int SetLanguage(int nLanguage);
    // 0; -1 row below 0; -2 row beyond the rows image; -3 row not below the rows that fit.
    int SetRow(const char* pMinuteMap, const char* pName, int nRow);
    void SetRowDate(int nRow, int nYear, int nMonth, int nDay);
    int RemoveRow(int nRow);
    // 0; -1 second outside 0 to 86,400; -2 no such row.
    int SetRowPos(int nRow, int nSecond);
    // The cursor second, 0 when the row does not exist or was removed.
    int GetRowPos(int nRow) const;
    void RebuildRows();

    CWnd* m_pOwner = nullptr;

private:
    std::map<int, CTimeBarRow*> m_mapRows;
};
