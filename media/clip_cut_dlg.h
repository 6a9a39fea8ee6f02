// The clip cutting dialog: cuts a time range of a local AVI recording into a
// new AVI file ("crop_YYYYMMDD_hhmmss.avi") in an output folder.
#pragma once

#include "platform/dialog.h"

#include <string>

class CResMsgDlg;
class QTimeEdit;

class CCropDlg : public CDialog {
public:
    enum {
        IDD = 373,
        IDC_EDIT_SRC = 1048,
        IDC_EDIT_OUTDIR = 1049,
        IDC_TIME_START = 1441,
        IDC_TIME_END = 1446,
        IDC_BTN_BROWSE_SRC = 1490,
        IDC_BTN_BROWSE_DIR = 1491,
        IDC_BTN_CUT = 1492,
        IDC_STATIC_DURATION_VALUE = 1495,
        IDC_STATIC_SRC_GROUP = 1496,
        IDC_STATIC_PATH = 1497,
        IDC_STATIC_DURATION = 1498,
        IDC_STATIC_DST_GROUP = 1499,
        IDC_STATIC_OUTDIR = 1500,
        IDC_STATIC_START = 1501,
        IDC_STATIC_END = 1502,
    };
    // Size of the buffer one chunk is copied through.
    static constexpr int kCopyBufferSize = 524288;

    explicit CCropDlg(CWnd* pParent = nullptr);
    ~CCropDlg() override;

    // 0, or -1 for a null or empty path or one longer than 259 characters.
    // Called before the dialog is shown.
    int SetSourceFile(const char* path);

    BOOL OnInitDialog() override;
    void OnBnClickedBtnBrowseSrc();
    void OnBnClickedBtnBrowseDir();
    void OnBnClickedBtnCut();

    // What the dialog holds, and the clip the last cut wrote ("" none).
    const std::string& GetSourceFile() const { return m_strSource; }
    const std::string& GetOutputFolder() const { return m_strOutDir; }
    int GetDuration() const { return m_nDuration; }
    const std::string& GetLastClip() const { return m_strLastClip; }

    // Copies seconds start..end of source into a new clip at outPath; true
    // when the clip holds at least one frame and every write succeeded.
    static bool CutFile(const std::string& source, const std::string& outPath, int start, int end);

protected:
    void CreateControls() override;

private:
    void LoadSource();
    void SourceChosen(const std::string& path);
    DECLARE_MESSAGE_MAP()

    std::string m_strSource;  // at most 259 characters
    std::string m_strOutDir;  // at most 259 characters
    int m_nDuration = 0;
    std::string m_strLastClip;
    QTimeEdit* m_pStart = nullptr;
    QTimeEdit* m_pEnd = nullptr;
    CResMsgDlg* m_pMsgDlg = nullptr;
};
