// The login dialog: logs an operator in at start (local users, a login
// server, or a cloud account), confirms the exit, and unlocks the video.
#pragma once

#include "platform/dialog.h"
#include "ui/gdip_button.h"
#include "ui/skin_draw.h"

#include <QPointer>

#include <string>

class CResMsgDlg;
class CTransparentStatic;
class QCheckBox;
class QComboBox;
class QLineEdit;

class CLoginDlg : public CDialog {
public:
    enum {
        IDD = 130,
        IDC_BTN_LOGIN = 1000,
        IDC_BTN_CANCEL = 1001,
        IDC_COMBO_USER = 1002,
        IDC_EDIT_PSW = 1003,
        IDC_STATIC_USER = 1004,
        IDC_STATIC_PSW = 1005,
        IDC_CHECK_SAVE_PSW = 1006,
        IDC_STATIC_SVR = 1007,
        IDC_EDIT_SVR = 1008,
        IDC_STATIC_PORT = 1009,
        IDC_EDIT_PORT = 1010,
        IDC_CHECK_LOGIN_SVR = 1011,
        IDC_CHECK_AUTO_LOGIN = 1012,
        IDC_CHECK_CLOUD = 1013,
        IDC_EDIT_CLOUD_SVR = 1014,
        IDC_STATIC_CLOUD_SVR = 1015,
        IDC_CHECK_NO_PROMPT = 1418,
    };
    // The face picture of both buttons.
    static constexpr UINT kButtonFace = 131;

    CLoginDlg(CWnd* pParent, int nVerify, int nUnlock);
    ~CLoginDlg() override;

    void OnBnClickedOk();
    void OnBnClickedCancel();
    void OnCbnSelchangeComboUser();
    void OnBnClickedCheckLoginSvr();
    void OnBnClickedCheckAutoLogin();
    void OnBnClickedCheckSavePsw();
    void OnBnClickedCheckCloud();
    void OnBnClickedCheckNoPrompt();

    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    void OnOK() override;
    void OnCancel() override;
    void OnPaint() override;
    void OnSize(UINT nType, int cx, int cy) override;

    // The box the dialog shows its messages in (tests read it).
    CResMsgDlg* GetMsgDlg() const { return m_pMsgDlg; }

protected:
    void CreateControls() override;

private:
    void FillHistoryCombo();
    void SaveLoginHistory(const std::string& digest);
    void ShowMsg(UINT id);
    void ShowMsgText(const std::string& text);
    // Puts a stored digest into the password field; it then counts as a
    // digest until the field is edited.
    void SetStoredDigest(const char* digest, const std::string& user);
    bool FieldHoldsStoredDigest(const std::string& name) const;
    // Steps of the login.
    void CloudLogin(const std::string& name, const std::string& password);
    bool ResolveLoginServer();
    LRESULT OnLayout(WPARAM, LPARAM);
    DECLARE_MESSAGE_MAP()

    CResMsgDlg* m_pMsgDlg = nullptr;
    int m_nVerify = 0;
    int m_nUnlock = 0;
    CGdiManger m_gdi;
    CGdipButton* m_pBtnLogin = nullptr;
    CGdipButton* m_pBtnCancel = nullptr;
    CTransparentStatic* m_pLabels[5] = {};
    QComboBox* m_pComboUser = nullptr;
    QCheckBox* m_pCheckNoPrompt = nullptr;
    QLineEdit* m_pEditPsw = nullptr;

    // Whose stored digest the password field holds ("" none).
    bool m_bPswIsDigest = false;
    std::string m_strDigestUser;
};
