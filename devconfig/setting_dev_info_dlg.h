// The device and group page of the configuration manager: the group form,
// the device form with its source, type and access-mode reactions, and the
// add, delete and change of groups and devices (local, parent relay server,
// cloud, ONVIF). The camera-search area is laid out here only.
#pragma once

#include "core/devinfo.h"
#include "platform/dialog.h"

#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class CResMsgDlg;
class CGdipButton;
class CReportCtrl;
class CZizevaVEDCtrl;
class QComboBox;
class QLineEdit;
class QLabel;
class QGroupBox;
class QRadioButton;
class QCheckBox;

enum DevSourceMode { kDevSourceLocal = 0, kDevSourceP2P = 1, kDevSourceOnvif = 2 };

struct ReopenPaneItem {
    DeviceInfo dev;
    int nPane;
};

class CSettingDevInfoDlg : public CDialog {
public:
    enum {
        IDD = 145,
        // Device form.
        IDC_COMBO_GROUP = 1114,
        IDC_EDIT_DEVNAME = 1054,
        IDC_COMBO_DEVTYPE = 1286,
        IDC_EDIT_ADDR = 1049,
        IDC_EDIT_VIDEOPORT = 1051,
        IDC_EDIT_PTZPORT = 1053,
        IDC_EDIT_PTZADDR = 1055,
        IDC_EDIT_LOGIN = 1050,
        IDC_EDIT_PSW = 1052,
        IDC_COMBO_VISITMOD = 1116,
        IDC_COMBO_PROTOCOL = 1117,
        IDC_COMBO_STREAM = 1115,
        IDC_RADIO_LOCAL = 1397,
        IDC_RADIO_P2P = 1398,
        IDC_RADIO_ONVIF = 1399,
        IDC_STATIC_SOURCE = 1396,
        IDC_STATIC_NOTE = 1140,
        IDC_STATIC_GROUP = 1125,
        IDC_STATIC_DEVNAME = 1126,
        IDC_STATIC_PROTOCOL = 1127,
        IDC_STATIC_STREAM = 1128,
        IDC_STATIC_VISITMOD = 1129,
        IDC_STATIC_ADDR = 1130,
        IDC_STATIC_VIDEOPORT = 1131,
        IDC_STATIC_PTZPORT = 1132,
        IDC_STATIC_LOGIN = 1133,
        IDC_STATIC_PSW = 1134,
        IDC_STATIC_PTZADDR = 1147,
        IDC_STATIC_DEVTYPE = 1285,
        // Group form.
        IDC_STATIC_GROUPNAME = 1097,
        IDC_EDIT_GROUPNAME = 1099,
        IDC_BTN_GROUP_ADD = 1082,
        IDC_BTN_GROUP_DEL = 1081,
        IDC_BTN_GROUP_MODIFY = 1080,
        IDC_FRAME_TOP = 1107,
        IDC_FRAME_BOTTOM = 1110,
        IDC_STATIC_GROUPCFG = 1275,
        IDC_STATIC_CFGINFO = 1276,
        // Device buttons.
        IDC_BTN_DEV_ADD = 1121,
        IDC_BTN_DEV_DEL = 1119,
        IDC_BTN_DEV_MODIFY = 1120,
        // Search area.
        IDC_LIST_RESULT = 1124,
        IDC_BTN_SEARCH = 1122,
        IDC_BTN_BATCH_ADD = 1123,
        IDC_BTN_BATCH_ADDR = 1468,
        IDC_BTN_MODIFY_CAMERA = 1118,
        IDC_BTN_DEFAULT_CFG = 1148,
        IDC_BTN_AUTO_GAIN = 1146,
        IDC_BTN_ONE_KEY_ADD = 1509,
        IDC_CHECK_ALL = 1299,
        IDC_CHECK_INVERT = 1300,
        IDC_STATIC_COUNT = 1301,
        IDC_STATIC_IP = 1135,
        IDC_STATIC_MASK = 1136,
        IDC_STATIC_GATEWAY = 1137,
        IDC_STATIC_DNS1 = 1138,
        IDC_STATIC_DNS2 = 1139,
        IDC_EDIT_IP = 1141,
        IDC_EDIT_MASK = 1142,
        IDC_EDIT_GATEWAY = 1143,
        IDC_EDIT_DNS1 = 1144,
        IDC_EDIT_DNS2 = 1145,
        IDC_STATIC_DEVNUM = 1279,
        IDC_STATIC_SEARCH_PROTO = 1506,
        IDC_CHECK_PRIVATE = 1507,
        IDC_CHECK_ONVIF = 1508,
        // Platform-add panel (never shown).
        IDC_STATIC_PLT = 1389,
        IDC_STATIC_PLT_DOMAIN = 1390,
        IDC_EDIT_PLT_DOMAIN = 1048,
        IDC_STATIC_PLT_USER = 1393,
        IDC_STATIC_PLT_PSW = 1394,
        IDC_EDIT_PLT_USER = 1058,
        IDC_EDIT_PLT_PSW = 1059,
        IDC_BTN_PLT_ADD = 1380,
        IDC_STATIC_PLT_NOTE = 1280,
    };
    enum { TIMER_REOPEN_PANES = 201, kReopenDelayMs = 4000 };

    explicit CSettingDevInfoDlg(CWnd* pParent = nullptr);
    ~CSettingDevInfoDlg() override;

    BOOL OnInitDialog() override;
    void InitSearchResultList();
    void FillGroupCombo();
    void DisplayDevInfo(const DeviceInfo* dev);
    void DisplayGroupInfo(const DevGroupInfo* group);
    void DisplayVssInfo(const char* name);
    void ClearDevInfo();
    void GetDefaultGroupName(char* out);

    void OnBnClickedBtnGroupAdd();
    void OnBnClickedBtnGroupDel();
    void OnBnClickedBtnGroupModify();
    void OnBnClickedBtnDevAdd();
    void OnBnClickedBtnDevDel();
    void OnBnClickedBtnDevModify();

    void OnBnClickedRadioLocal();
    void OnBnClickedRadioP2P();
    void OnBnClickedRadioOnvif();
    void OnCbnSelchangeDevType();
    void OnCbnSelchangeVisitMode();

    int AddCloudDevice(int reAdd);
    int AddOnvifDevice();
    void DeleteCloudDevice(const char* devId, int report);
    int SaveVssInfo();
    int FindWatchPane(const DeviceInfo* row);
    void RenameInRecSchemes(const DeviceInfo* row);
    // Starts the ONVIF service-address query of the row on its own thread;
    // -1 for null. The thread is joined when the page goes.
    int QueryOnvifServiceAddr(const DeviceInfo* dev);
    // Waits for the service-address queries started so far.
    void JoinOnvifQueries();
    // Camera search (its behaviour belongs to the search code).
    void OnStopSearch();

    // The cloud service's port (80) and the domain appended to a device id
    // typed without one (an installation setting: QELM2_CLOUD_DOMAIN, else
    // the account server of the login).
    void SetCloudServicePort(int port) { m_nCloudPort = port; }
    static std::string CloudServiceDomain();

    int GetDevSource() const { return m_nDevSource; }
    const DeviceInfo& ShownDevice() const { return m_DevInfo; }
    const DevGroupInfo& ShownGroup() const { return m_GroupInfo; }
    CResMsgDlg* MsgDlg() const { return m_pMsgDlg; }
    const std::list<ReopenPaneItem>& ReopenPanes() const { return m_lstReopenPane; }

protected:
    void CreateControls() override;
    void OnTimer(UINT_PTR nIDEvent) override;
    void OnSize(UINT nType, int cx, int cy) override;
    void OnPaint() override;

public:
    BOOL PreTranslateMessage(MSG* pMsg) override;

private:
    DECLARE_MESSAGE_MAP()

    void ShowMsg(unsigned id);
    void ShowText(const std::string& text);
    std::string Text(UINT id) const;
    int ComboIndex(UINT id) const;
    std::string ComboText(UINT id) const;
    void FillCombo(UINT id, const std::vector<std::string>& items, int select);
    void Enable(UINT id, bool on);
    void SetAddrLabel(unsigned stringId);
    bool IsCloudLogin() const;
    void SelectGroupEntry(const char* name);

    // Local-device add and change share the row rules.
    struct FormValues {
        std::string group, name, addr, videoPort, ptzPort, ptzAddr, login, psw;
        int type = 1, visitMod = 0, protocol = 1, stream = 0;
    };
    FormValues ReadForm() const;
    void FillRowFromForm(DeviceInfo& d, const FormValues& f, bool pswIsStored) const;
    void RegisterRow(DeviceInfo& d, const char* caller, bool timeSync);
    void AddRelayServer(const FormValues& f);
    void DeleteRelayServer(const FormValues& f);
    void ModifyInPlace(const FormValues& f);
    void ModifyReRegister(const FormValues& f);
    std::string StoredPasswordFor(const FormValues& f, const DeviceInfo& old) const;
    // Address and port fields the form's type and source make addresses and
    // ports (a decoder's may stay empty); on a bad one, a message naming the
    // field, which gets the focus.
    bool CheckAddressAndPorts(const FormValues& f, bool decoder);
    void RefuseField(UINT field, UINT label, unsigned stringId);

    // The add and delete paths offer rows to the default plan only while the
    // recording page exists and made the plan in this run.
    void OfferToDefaultPlan(const DeviceInfo& d);
    void EnsureDefaultPlan();

    CResMsgDlg* m_pMsgDlg = nullptr;
    DevGroupInfo m_GroupInfo{};
    DeviceInfo m_DevInfo{};
    CZizevaVEDCtrl* m_pSearchCtrl = nullptr;
    int m_nDevSource = kDevSourceLocal;
    std::list<ReopenPaneItem> m_lstReopenPane;
    int m_nCloudPort = 80;
    bool m_bLaidOut = false;
    std::vector<std::thread> m_onvifQueries;
    CReportCtrl* m_pResultList = nullptr;
    std::vector<CGdipButton*> m_buttons;
};
