// The automation endpoint: when QELM2_AUTOMATION names a socket path, the
// program listens there for one JSON object per line and answers each with
// one JSON line. Tests drive the program through it as a user would: list
// windows and controls, click, type, press keys, read and answer message
// boxes, save pictures of windows. Without the variable nothing listens.
//
// Requests ({"cmd": ...}) and their fields:
//   ping
//   windows                          every top-level window with its controls
//   click | dblclick | rclick        window, id [, x, y: point in the control]
//   drag                             window, id, from [x,y], to [x,y] [, to_id]
//   key                              window, id, key ("Return", "Escape", "F5", "ctrl+a", "x")
//   type                             window, id, text
//   select                           window, id, index | text (combo boxes, lists)
//   msgbox                           the message box shown last: text, caption, open
//   msgbox-answer                    button (IDOK 1, IDCANCEL 2, IDYES 6, IDNO 7)
//   save                             window [, id], path: a PNG of the window or control
// A window is named by its class name ("CIPCClientDlg"), its title, or its
// handle number; the first visible match wins. Answers carry "ok" and, on
// failure, "error".
#pragma once

namespace qelm {

void StartAutomationFromEnvironment();
void StopAutomation();

} // namespace qelm
