// The system message box: a modal dialog of ours whose text the automation
// endpoint can read and whose buttons it can press.
#pragma once

#include "platform/types.h"

#include <string>

int MessageBoxA(HWND hWnd, const char* lpText, const char* lpCaption, UINT uType);
int MessageBoxW(HWND hWnd, const wchar_t* lpText, const wchar_t* lpCaption, UINT uType);
int AfxMessageBox(const char* lpszText, UINT nType = MB_OK);

namespace qelm {

struct MessageBoxInfo {
    std::string text;     // UTF-8
    std::string caption;
    HWND hwnd = nullptr;  // the box while it is open, else null
    bool shown = false;   // a box was shown since start
};

// The box shown last (or open now).
MessageBoxInfo LastMessageBox();

} // namespace qelm
