// The configuration manager's users page (template 144): user groups,
// users, roles of UserInfo.xml and the text of the scrolling caption.
#pragma once

#include "core/userinfo.h"
#include "platform/dialog.h"
#include "ui/skin_draw.h"

#include <string>

class CResMsgDlg;
class QCheckBox;
class QComboBox;
class QLineEdit;

class CSettingUserInfoDlg : public CDialog {
public:
    enum {
        IDD = 144,
        IDC_EDIT_GROUP = 1099,
        IDC_COMBO_GROUP_ROLE = 1079,
        IDC_BTN_MODIFY_GROUP = 1080,
        IDC_BTN_DEL_GROUP = 1081,
        IDC_BTN_ADD_GROUP = 1082,
        IDC_EDIT_USER = 1083,
        IDC_COMBO_USER_GROUP = 1085,
        IDC_EDIT_PSW = 1084,
        IDC_EDIT_PSW2 = 1086,
        IDC_BTN_MODIFY_USER = 1087,
        IDC_BTN_DEL_USER = 1088,
        IDC_BTN_ADD_USER = 1089,
        IDC_EDIT_ROLE = 1106,
        IDC_CHECK_SURPTZ = 1006,
        IDC_CHECK_RECORD = 1011,
        IDC_CHECK_ALARM = 1090,
        IDC_CHECK_PTZ = 1091,
        IDC_CHECK_USERMGR = 1092,
        IDC_CHECK_HIGH = 1093,
        IDC_BTN_MODIFY_ROLE = 1094,
        IDC_BTN_DEL_ROLE = 1095,
        IDC_BTN_ADD_ROLE = 1096,
        IDC_EDIT_TITLE = 1048,
        IDC_BTN_SAVE_TITLE = 1352,
    };
    // What the edits accept: the record fields' characters.
    static constexpr int kNameChars = 255;
    static constexpr int kPasswordChars = 99;

    explicit CSettingUserInfoDlg(CWnd* pParent = nullptr);
    ~CSettingUserInfoDlg() override;

    // Entry points of the user list panel.
    void ShowUser(const User* user);
    void ShowGroup(const UserGroup* group);
    void ShowRole(const Role* role);

    bool IsRoleExist(const std::string& name) const;
    bool IsGroupExist(const std::string& name) const;
    std::string GetGroupRole(const std::string& name) const;
    void FillRoleCombo();
    void FillGroupCombo();

    void OnBnClickedBtnAddGroup();
    void OnBnClickedBtnDelGroup();
    void OnBnClickedBtnModifyGroup();
    void OnBnClickedBtnAddUser();
    void OnBnClickedBtnDelUser();
    void OnBnClickedBtnModifyUser();
    void OnBnClickedBtnAddRole();
    void OnBnClickedBtnDelRole();
    void OnBnClickedBtnModifyRole();
    void OnBnClickedBtnSaveTitle();

    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    void OnSize(UINT nType, int cx, int cy) override;
    void OnPaint() override;

    CResMsgDlg* MsgDlg() const { return m_pMsgDlg; }
    const User& UserCopy() const { return m_user; }
    const UserGroup& GroupCopy() const { return m_group; }
    const Role& RoleCopy() const { return m_role; }

protected:
    void CreateControls() override;

private:
    void ShowMsgId(UINT id);
    // OK on the system's confirmation box of a string-table question.
    bool Confirm(UINT id);
    // The text fits the record field; otherwise says so and answers false.
    bool Fits(const std::string& text, std::size_t fieldSize);
    // The name and a typed password within what the login takes; else a
    // message naming the limit.
    bool FitsLogin(const std::string& name, const std::string& psw, bool pswShown);
    void Layout(int W, int H);

    CResMsgDlg* m_pMsgDlg = nullptr;
    CGdiManger m_gdi;
    User m_user{};
    UserGroup m_group{};
    Role m_role{};
    // The password edits still hold what ShowUser put there.
    bool m_bPswShown = false;
    bool m_bInitialised = false;

    DECLARE_MESSAGE_MAP()
};
