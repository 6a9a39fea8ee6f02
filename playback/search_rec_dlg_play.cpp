// The record search page's playback: progress and end of files, player commands.
#include "playback/search_rec_dlg.h"

void CSearchRecDlg::OnPlayBackMessage(int32_t, int32_t, const char*) {}

void CSearchRecDlg::OnPlayBackCommand(int32_t, int32_t, int32_t) {}
