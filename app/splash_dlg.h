// The full-screen splash picture shown from start-up until the main window,
// with one line of status text.
#pragma once

#include "platform/dialog.h"
#include "ui/skin_draw.h"

#include <string>

class CSplashDlg : public CDialog {
public:
    enum { IDD = 129 };
    explicit CSplashDlg(CWnd* pParent = nullptr);

    // Drawn once over the picture; the next repaint shows the picture only.
    void SetStatusText(const char* text);
    const std::string& LastStatusText() const { return m_lastText; }

    // The picture for a language index, falling back to the English one.
    static std::string PicturePath(int languageIndex);

protected:
    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    void keyPressEvent(QKeyEvent* e) override;
    void OnPaint() override;

private:
    CGdiManger m_gdi;
    std::string m_pendingText; // drawn by the next paint, then dropped
    std::string m_lastText;    // what the window last showed (automation reads the label)
};

extern CSplashDlg* g_pSplashDlg;
