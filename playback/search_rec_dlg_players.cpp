// The record search page's eight players: creation, lookup and the busy tests
// that every way of starting a playback shares.
#include "playback/search_rec_dlg.h"

#include "core/helpers.h"
#include "core/userinfo.h"
#include "platform/paths.h"

void CSearchRecDlg::CreatePlayers()
{
    // No picture folder is configured here: snapshots go beside the program.
    m_strCapturePath = GetAppDir() + "Picture";
    const int flag = (g_nLanguage == 1 || g_nLanguage == 2 || g_nLanguage == 3 || g_nLanguage == 5) ? 1 : 0;
    for (int i = 0; i < kSlots; ++i) {
        auto* player = new CPlayBackAtl;
        if (!player->Create(this, CRect(0, 0, 1, 1), kFirstPlayerId + i, this)) {
            // A player without its control still counts as a window of the grid.
            player->CWnd::Create(this, CRect(0, 0, 1, 1), 0, nullptr);
            m_pPlayer[i] = player;
            continue;
        }
        player->SetStretchMode(g_DispInfoSetting.FilpMode);
        player->SetUiLanguage(flag);
        player->SetCapturePath(flag, m_strCapturePath.c_str());
        m_pPlayer[i] = player;
    }
}

void CSearchRecDlg::DestroyPlayers()
{
    KillTimer(kStatusTimer);
    m_map.clear();
    // The relay library's threads feed players under this lock.
    std::lock_guard<std::mutex> lock(m_csRelay);
    for (CPlayBackAtl*& p : m_pPlayer) {
        delete p;
        p = nullptr;
    }
}

CPlayBackAtl* CSearchRecDlg::GetPlayer(int nIndex) const
{
    return nIndex >= 0 && nIndex < kSlots ? m_pPlayer[nIndex] : nullptr;
}

int CSearchRecDlg::HasIdlePlayer() const
{
    for (int i = 0; i < m_nPlayerCount && i < kSlots; ++i)
        if (m_pPlayer[i] && !m_pPlayer[i]->IsPlaying())
            return 1;
    return 0;
}

bool CSearchRecDlg::IsPlayerReserved(int nPlayer) const
{
    for (int i = 0; i < kSlots; ++i)
        if (m_oPBStatus[i].nPlayer == nPlayer || m_oRelayDayStatus[i].nPlayer == nPlayer)
            return true;
    return false;
}
