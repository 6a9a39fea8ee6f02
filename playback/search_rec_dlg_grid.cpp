// The record search page's player grid: mouse events of the players.
#include "playback/search_rec_dlg.h"

void CSearchRecDlg::OnPlayBackMouse(int32_t, int32_t, int32_t, int32_t) {}
