// The skinned message box: a modeless box that sizes itself to its text,
// floats above every window and offers OK alone or OK and Cancel; two modes
// act on OK (end the program, stop all live video).
#pragma once

#include "platform/dialog.h"

#include <functional>
#include <string>

class QLabel;
class QPushButton;

class CResMsgDlg : public CDialog {
public:
    enum { IDD = 209, IDC_OK = 1000, IDC_CANCEL = 1001, IDC_TEXT = 1284 };

    // Modes: 2 (and anything outside 5..9) OK alone; 5, 6, 7 OK and Cancel;
    // 8 OK and Cancel, OK ends the program; 9 OK and Cancel, OK stops all
    // live video.
    enum { MODE_INFO = 2, MODE_EXIT = 8, MODE_STOP_ALL_VIDEO = 9 };

    // What OK does in modes 8 and 9. The main window registers them; an
    // unregistered action makes OK only hide the box.
    struct ModeActions {
        std::function<void()> exitApp;      // mode 8: the main window's exit
        std::function<void()> stopAllVideo; // mode 9: the video toolbar's stop-all
    };
    static void SetModeActions(ModeActions actions);

    // The owner creates the box with Create(IDD, owner); it starts hidden.
    explicit CResMsgDlg(CWnd* pParent = nullptr);
    ~CResMsgDlg() override;

    // Sizes, lays out and shows the box; returns at once. A box that shows
    // already takes the new text and mode: the earlier question is gone.
    void ShowMsgW(const wchar_t* text, int mode = MODE_INFO, int unused = 0);
    void ShowMsg(const char* text, int mode = MODE_INFO); // UTF-8

    void OnBnClickedOk();
    void OnBnClickedCancel();

    // The text's measure: W and H of one line, or of the lines between "\n"s
    // (the piece after the last "\n" only when not empty). The wide form
    // takes each line as its character count times the average character
    // width, but never narrower than the line draws; the narrow form
    // measures each line.
    void MeasureText(const std::wstring& text, bool wideForm, int* W, int* H) const;

    // The box's outer size is W + 70 by H + 96, as a window with the
    // system's dialog frame (3-pixel borders and a 26-pixel caption); the
    // client area is that less the frame.
    static constexpr int kFrameWidth = 6;
    static constexpr int kFrameHeight = 29;

    int GetMode() const { return m_nMode; }
    BOOL ExitsOnOk() const { return m_bExitOnOk; }
    BOOL StopsVideoOnOk() const { return m_bStopVideoOnOk; }

    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void OnClose() override;

protected:
    void CreateControls() override;

private:
    void Show(const std::wstring& text, int mode, bool wideForm);
    DECLARE_MESSAGE_MAP()

    BOOL m_bExitOnOk = FALSE;
    BOOL m_bStopVideoOnOk = FALSE;
    int m_nMode = MODE_INFO;
    QPushButton* m_pOk = nullptr;
    QPushButton* m_pCancel = nullptr;
    QLabel* m_pText = nullptr;
};
