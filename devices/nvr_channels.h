// NVR channel rows: the main window's handlers of the channel count and the
// channel states, the removal of surplus rows and the existence test.
#pragma once

#include "core/devinfo.h"
#include "platform/types.h"

#include <cstdint>

// A recorder reports at most this many channels: the state text of the
// parent row holds one digit per channel in 127 characters.
inline constexpr int kMaxNvrChannels = 127;

// CIPCClientDlg::OnNvrChannelList (WM_NVR_CHANNEL_LIST): takes the heap
// text (qelm::FreeText).
void OnNvrChannelList(int32_t auxPtzId, char* text);
// CIPCClientDlg::OnChannelStates (WM_CHANNEL_STATES): wParam as posted (the
// id, with kChannelStatesFromStream for a P2P log-in id); takes the text.
void OnChannelStates(WPARAM wParam, char* text);
// CIPCClientDlg::IsDevExist: a record with the same DevId and DevName.
bool IsDevExist(DeviceInfo dev);
// CIPCClientDlg::RemoveNvrChannelsAbove: removes that NVR's channel rows
// above count; returns how many went. notify: one list-update notice to the
// relay library when any went.
int RemoveNvrChannelsAbove(DeviceInfo nvr, int count, bool notify = true);
