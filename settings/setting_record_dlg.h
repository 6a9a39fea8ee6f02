// The configuration manager's recording-plan page (template 146): one plan
// of g_lstRecSchemeInfo in a form, its members in a tree, Add, Modify and
// Delete, and the built-in "Default Strategy".
#pragma once

#include "core/recinfo.h"
#include "platform/dialog.h"
#include "ui/skin_draw.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

class CResMsgDlg;
class CGdipButton;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QTimeEdit;
class QTreeWidget;
class QTreeWidgetItem;

class CSettingRecordDlg : public CDialog {
public:
    enum {
        IDD = 146,
        IDC_EDIT_NAME = 1048,
        IDC_EDIT_SAVEDATE = 1049,
        IDC_EDIT_PATH1 = 1050,
        IDC_EDIT_PATH2 = 1051,
        IDC_EDIT_PATH3 = 1052,
        IDC_EDIT_DETTIME = 1055,
        IDC_COMBO_STORAGE = 1114,
        IDC_COMBO_ONOFF = 1115,
        IDC_COMBO_STREAM = 1116,
        IDC_COMBO_STARTTYPE = 1118,
        IDC_COMBO_PRETIME = 1286,
        IDC_COMBO_FILETIME = 1296,
        IDC_COMBO_RECTYPE = 1504,
        IDC_CHECK_AUDIO = 1202,
        IDC_TREE_SCHEME = 1142,
        IDC_TREE_ALL = 1143,
        IDC_BTN_ADDDEV = 1144,
        IDC_BTN_DELDEV = 1145,
        IDC_BTN_BROWSE1 = 1184,
        IDC_BTN_BROWSE2 = 1185,
        IDC_BTN_BROWSE3 = 1186,
        IDC_BTN_ADDSCHEME = 1172,
        IDC_BTN_DELSCHEME = 1187,
        IDC_BTN_MODIFY = 1171,
        IDC_STATIC_DETTIME = 1188,
        IDC_GROUP_STRATEGY = 1256,
        IDC_STATIC_NOTE = 1284,
        IDC_STATIC_RECTYPE = 1503,
    };
    static constexpr UINT kRowCheck[7] = {1006, 1011, 1146, 1147, 1148, 1093, 1149};
    static constexpr UINT kRowDay[7] = {1117, 1204, 1205, 1206, 1207, 1208, 1209};
    static constexpr UINT kRowStart(int row) { return 1148 + 2 * row; } // row 1..7
    static constexpr UINT kRowEnd(int row) { return 1149 + 2 * row; }
    static constexpr UINT kTimerRefresh = 100;

    explicit CSettingRecordDlg(CWnd* pParent = nullptr);
    ~CSettingRecordDlg() override;

    // What the manager and the device-adding code call.
    void ShowScheme(RecScheme* plan);
    void EnsureDefaultStrategy();
    // device: the record just appended to g_lstDevInfo; the plan keeps
    // that live record.
    void AddDeviceToDefaultStrategy(const DeviceInfo& device);
    void FillAllDevTree();
    static int CheckTimeConflict(const RecScheme* existing, const RecScheme* candidate);
    int m_bDefaultSchemeCreated = 0;

    // Handlers.
    void OnBnClickedBtnBrowse1() { Browse(1); }
    void OnBnClickedBtnBrowse2() { Browse(2); }
    void OnBnClickedBtnBrowse3() { Browse(3); }
    void OnBnClickedBtnAddDev();
    void OnBnClickedBtnDelDev();
    void OnBnClickedBtnAddScheme();
    void OnBnClickedBtnModify();
    void OnBnClickedBtnDelScheme();
    void OnCbnSelchangeStartType();
    LRESULT OnRecPageRefresh(WPARAM, LPARAM);
    // A click on a tree item; wasChecked is the item's box before the click.
    void OnNMClickTree(QTreeWidget* tree, QTreeWidgetItem* item, bool wasChecked);

    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    void OnTimer(UINT_PTR nIDEvent) override;
    void OnPaint() override;

    int CheckPathSpace(const std::string& path);
    int HasFreeSpace(const std::string& path);

    // The folder chooser; nullopt when cancelled. Tests replace it.
    using FolderChooser = std::function<std::optional<std::string>(CSettingRecordDlg*)>;
    void SetFolderChooser(FolderChooser fn) { m_chooseFolder = std::move(fn); }

    // For the manager and tests.
    CResMsgDlg* MsgDlg() const { return m_pMsgDlg; }
    bool HasCurrentScheme() const { return m_bHasCurrent; }
    const std::string& CurrentSchemeName() const { return m_strCurrent; }
    QTreeWidget* SchemeTree() const { return m_pTreeScheme; }
    QTreeWidget* AllDevTree() const { return m_pTreeAll; }

protected:
    void CreateControls() override;

private:
    void InitDevTrees();
    void ResetPeriods();
    void Browse(int index);
    void ShowMsg(const std::string& text);
    void ShowMsgId(UINT id);
    // The form as a new plan (null after a refusal, which was shown).
    std::unique_ptr<RecScheme> ReadForm();
    // The strategy tree's devices into plan; false after a conflict (shown).
    bool ReadMembers(RecScheme& plan, const std::string& referenceName);
    RecScheme* FindPlan(const std::string& name) const; // under g_csDevList
    void StopSinks(std::vector<std::function<void()>>& jobs, DeviceInfo& d, bool modify);
    QComboBox* Combo(UINT id) const;
    QLineEdit* Edit(UINT id) const;

    CResMsgDlg* m_pMsgDlg = nullptr;
    QTreeWidget* m_pTreeScheme = nullptr;
    QTreeWidget* m_pTreeAll = nullptr;
    QTreeWidgetItem* m_hSchemeRoot = nullptr;
    QCheckBox* m_pRowCheck[7] = {};
    QComboBox* m_pRowDay[7] = {};
    QTimeEdit* m_pRowStart[7] = {};
    QTimeEdit* m_pRowEnd[7] = {};
    std::vector<CGdipButton*> m_buttons;
    CGdiManger m_gdi;
    FolderChooser m_chooseFolder;

    // The current plan, kept by name: a deleted plan stays current.
    bool m_bHasCurrent = false;
    std::string m_strCurrent;
    int m_nMotionRecTime = 60;
    bool m_bInitialised = false;

    DECLARE_MESSAGE_MAP()
};
