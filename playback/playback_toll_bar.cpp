// The time line. This first cut keeps the rows and their cursors; it draws nothing yet.
#include "playback/playback_toll_bar.h"

#include <cstring>

struct CTimeBarRow {
    char szName[32] = {};
    char szMinutes[1440] = {};
    int32_t nRow = -1;
    int32_t nCursor = -1;
    int32_t nYear = 0, nMonth = 0, nDay = 0;
};

CPlayBackTollBar::CPlayBackTollBar(CWnd* pOwner) : CDialog(IDD, pOwner), m_pOwner(pOwner) {}

CPlayBackTollBar::~CPlayBackTollBar()
{
    for (auto& [row, p] : m_mapRows)
        delete p;
}

int CPlayBackTollBar::SetLanguage(int) { return 0; }

int CPlayBackTollBar::SetRow(const char* pMinuteMap, const char* pName, int nRow)
{
    if (nRow < 0)
        return -1;
    CTimeBarRow*& p = m_mapRows[nRow];
    if (!p)
        p = new CTimeBarRow;
    std::memset(p->szMinutes, 0, sizeof p->szMinutes);
    if (pMinuteMap)
        std::memcpy(p->szMinutes, pMinuteMap, strnlen(pMinuteMap, sizeof p->szMinutes));
    std::memset(p->szName, 0, sizeof p->szName);
    if (pName)
        std::memcpy(p->szName, pName, strnlen(pName, sizeof p->szName - 1));
    p->nRow = nRow;
    p->nCursor = -1;
    return 0;
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
    auto it = m_mapRows.find(nRow);
    if (it != m_mapRows.end() && it->second->nRow == nRow) {
        it->second->nRow = -1;
        it->second->nCursor = -1;
    }
    return 0;
}

int CPlayBackTollBar::SetRowPos(int nRow, int nSecond)
{
    if (nSecond < 0 || nSecond > 86400)
        return -1;
    auto it = m_mapRows.find(nRow);
    if (it == m_mapRows.end() || it->second->nRow < 0)
        return -2;
    it->second->nCursor = nSecond;
    return 0;
}

int CPlayBackTollBar::GetRowPos(int nRow) const
{
    auto it = m_mapRows.find(nRow);
    if (it == m_mapRows.end() || it->second->nRow < 0 || it->second->nCursor < 0)
        return 0;
    return it->second->nCursor;
}

void CPlayBackTollBar::RebuildRows() {}
