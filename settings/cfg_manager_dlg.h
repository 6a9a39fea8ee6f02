// The configuration page of the main window: tool bar, left column (device
// panel or user tree), the two recording buttons and the sub-page forms,
// created once and switched by showing and hiding.
#pragma once

#include "devconfig/devcfg_pages.h"
#include "mainwnd/main_pages.h"
#include "platform/dialog.h"
#include "platform/geometry.h"
#include "ui/skin_draw.h"

#include <string>

class CConfigToolDlg;
class CDeviceListDlg;
class CSettingDevInfoDlg;
class CSettingRecordDlg;
class RecScheme;
class CGdipButton;

// Registers the manager's page factory with the main window.
void RegisterCfgManagerPage();

class CCfgManagerDlg : public CDialog, public ICfgManagerForwards, public IDevCfgPages {
public:
    enum { IDD = 324, IDC_BTN_DEFAULT_RECORD = 1297, IDC_BTN_RECORD_DETAIL = 1298 };
    // Sub-pages not built in this folder yet, created as empty pages of
    // their class until their own code lands.
    enum SubPage { kUserTree, kUserForm, kRecordForm, kRemoteConfig, kMaintenance, kRecordConfig };

    CCfgManagerDlg(const CRect& placement, CWnd* pParent);
    ~CCfgManagerDlg() override;

    BOOL OnInitDialog() override;
    void LayoutPages();
    void ShowDevicePage() override;
    void ShowUserPage();
    void ShowRecordPage();
    void ShowRemoteConfigPage();
    void ShowMaintenancePage();
    void ShowDeviceList(int flag) override { m_bMoved = flag; }
    void ResizeForMainWindow(int maximised) override;
    void ShowSubPage(int subPage) override;
    void SetMonitorNumber(int n) override { m_nMonitor = n; }
    void OnBnClickedBtnDefaultRecord();
    void OnBnClickedBtnRecordDetail();

    // The main window's layout height H of the placement formula.
    static int PlacementTop(int layoutHeight) { return layoutHeight * 52 / 768 - 1; }

    // ICfgManagerForwards and IDevCfgPages.
    bool HasRecordPage() override;
    void EnsureDefaultStrategy() override;
    void AddDeviceToDefaultStrategy(const DeviceInfo& device) override;
    bool DefaultSchemeCreated() override;
    void UpdateMaintDeviceName(const DeviceInfo& device) override;

    // What the main window routes here (cfg_manager_routes.cpp).
    void DisplayDevInfo(DeviceInfo* device) override;
    void DisplayGroupInfo(DevGroupInfo* group) override;
    void ClearDevInfo() override;
    void ShowRecScheme(RecScheme* plan) override;
    void ShowRecordStrategyTree() override;
    bool IsRecordPageVisible() override;
    void PostRecPageRefresh() override;
    void SetRecordButtonCaption(unsigned stringId) override;
    void RefreshUserTree() override;
    void RefreshRoleTree() override;
    void ShowUser(const User* user) override;
    void ShowGroup(const UserGroup* group) override;
    void ShowRole(const Role* role) override;
    void RefreshDevState() override;
    void RefreshDevTree() override;
    void ExpandDevChannels(DeviceInfo* device) override;

    CConfigToolDlg* ToolBar() const { return m_pToolDlg; }
    CDeviceListDlg* DevicePanel() const { return m_pDevListDlg; }
    CSettingDevInfoDlg* DeviceForm() const { return m_pDevInfoDlg; }
    CDialog* Page(SubPage kind) const;
    CGdipButton* DefaultRecordButton() const { return m_pBtnDefaultRecord; }
    CGdipButton* RecordDetailButton() const { return m_pBtnRecordDetail; }
    const CRect& Placement() const { return m_rcPlacement; }
    const CRect& PageArea() const { return m_rcPage; }
    int Moved() const { return m_bMoved; }

protected:
    void CreateControls() override;
    void OnPaint() override;
    void OnSize(UINT nType, int cx, int cy) override;
    void OnMove(int x, int y) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

private:
    DECLARE_MESSAGE_MAP()

    CDialog* CreateSubPage(SubPage kind);
    void HideRemoteConfig();
    void StopCameraSearch();
    void OnPositionChanged();
    void LayoutFromClient();
    // The recording page's share of the switches and the default plan.
    CSettingRecordDlg* RecordPage() const;
    void RecordPageEnsureDefault();
    void RecordPageFillDevTree();
    void RecordPageShowScheme(RecScheme* scheme);

    CConfigToolDlg* m_pToolDlg = nullptr;
    CDeviceListDlg* m_pDevListDlg = nullptr;
    CDialog* m_pUserListDlg = nullptr;
    CDialog* m_pUserInfoDlg = nullptr;
    CSettingDevInfoDlg* m_pDevInfoDlg = nullptr;
    CDialog* m_pRecordDlg = nullptr;
    CDialog* m_pRemoteConfigDlg = nullptr;
    CDialog* m_pMaintDlg = nullptr;
    CDialog* m_pRecordConfigDlg = nullptr;
    CGdiManger m_gdi;
    int m_bLaidOut = 0;
    int m_bMoved = 0;
    int m_nMonitor = 0;
    CRect m_rcPage;
    CRect m_rcPlacement;
    CGdipButton* m_pBtnDefaultRecord = nullptr;
    CGdipButton* m_pBtnRecordDetail = nullptr;
    bool m_bInLayout = false;
};
