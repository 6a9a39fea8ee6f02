// The configuration manager's tool bar: one button per sub-page.
#pragma once

#include "platform/dialog.h"
#include "ui/skin_draw.h"

class CGdipButton;
class CCfgManagerDlg;
class CResMsgDlg;

class CConfigToolDlg : public CDialog {
public:
    enum {
        IDD = 140,
        IDC_BTN_DEVICE = 1065,
        IDC_BTN_RECORD = 1013,
        IDC_BTN_ALARM_LINK = 1014,
        IDC_BTN_USER = 1068,
        IDC_BTN_REMOTE = 1069,
        IDC_BTN_MAINT = 1070,
    };
    // The caption colour of the current sub-page's button.
    static constexpr unsigned kSelectedColor = 0x2171F7;

    CConfigToolDlg(CCfgManagerDlg* manager, CWnd* pParent);

    BOOL OnInitDialog() override;
    void SelectDeviceButton();
    // Marks one button, clears the other five and repaints.
    void SelectButton(UINT id);
    // Refusals are shown here (the device form's box when there is one).
    void SetMsgDlg(CResMsgDlg* box) { m_pMsgDlg = box; }

    void OnBnClickedBtnDeviceConfig();
    void OnBnClickedBtnRecordConfig();
    void OnBnClickedBtnUserConfig();
    void OnBnClickedBtnRemoteConfig();
    void OnBnClickedBtnMaintenance();
    void OnBnClickedBtnAlarmLink();

    CGdipButton* Button(UINT id) const;
    int Initialised() const { return m_bInitialised; }

protected:
    void CreateControls() override;
    void OnPaint() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

private:
    DECLARE_MESSAGE_MAP()
    void Switch(int subPage, UINT button);

    CCfgManagerDlg* m_pManager;
    CResMsgDlg* m_pMsgDlg = nullptr;
    CGdiManger m_gdi;
    CGdipButton* m_buttons[6] = {};
    int m_bInitialised = 0;
};
