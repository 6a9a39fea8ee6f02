// The patrol page of the system settings: the tours of the local grids' panes
// (tab 0) and of the decoders (tab 1), one target's points at a time, saved
// one tour at a time into Config/PatrolInfo.xml. It owns the program's tour
// list and offers it to the players through the read interface.
#pragma once

#include "liveview/patrol_tours.h"
#include "platform/dialog.h"

#include <list>
#include <string>

class CReportCtrl;
class CResMsgDlg;
class QListWidget;
class QTabBar;

class CConfigPatrol : public CDialog, public IPatrolTours {
public:
    enum {
        IDD = 236,
        IDC_LIST_TARGET = 1313,
        IDC_LIST_POINTS = 1314,
        IDC_TAB = 1351,
        IDC_STATIC_TARGET = 1347,
        IDC_RADIO_SCREEN = 1386,
        IDC_RADIO_SCREEN_EX1 = 1385,
        IDC_RADIO_SCREEN_EX2 = 1387,
        IDC_RADIO_SCREEN_EX3 = 1388,
        IDC_BTN_ADD = 1144,
        IDC_BTN_DELETE = 1145,
        IDC_BTN_MODIFY = 1171,
        IDC_BTN_SAVE = 1312,
    };
    // Shown when a tour could not be written to the file.
    static constexpr UINT kStrSaveFailed = 911;

    explicit CConfigPatrol(CWnd* pParent = nullptr);
    ~CConfigPatrol() override;

    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    const std::list<PatrolTour>& Tours() const override { return m_lstPatrol; }

    // 0 when the file was read, -1 when not (the list stays empty).
    int LoadPatrolInfo();
    // 0 written; -1 the file could not be read; -2 it could not be written.
    // The tour list takes the change in every case.
    int SavePatrolInfo();
    void RefreshPatrolList();
    void ShowPlayerPatrol();
    void ShowDecoderPatrol();
    void FillPlayerRows();
    void FillDecoderRows();

    void OnTcnSelchangeTab();
    void OnLbnSelchangeTarget();
    void OnBnClickedScreen(UINT id);
    void OnClickPointList();
    void OnBnClickedAdd();
    void OnBnClickedModify();
    void OnBnClickedDelete();
    void OnBnClickedSave();

    const char* CurrentTarget() const { return m_szCurTarget; }
    CReportCtrl* PointList() const { return m_pPointList; }
    QTabBar* Tabs() const { return m_pTab; }
    // The box the page's and its dialog's messages go to: the main window's,
    // else one of the page's own.
    CResMsgDlg* MsgBox();
    void ShowMsg(const std::wstring& text);

protected:
    void CreateControls() override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    // The device kind the add-patrol dialog gets: 0 on tab 0, else the
    // decoder's DevType (2 when no device has that name).
    int DeviceKind() const;
    void ListTargets(const char* format);
    void AppendRows(bool decoder);
    void SetCurrentTarget(const std::string& name);
    void EnablePointButtons(bool on);
    DECLARE_MESSAGE_MAP()

    char m_szCurTarget[TextSize(256)] = {};
    std::list<PatrolTour> m_lstPatrol;
    QListWidget* m_pTargetList = nullptr;
    CReportCtrl* m_pPointList = nullptr;
    QTabBar* m_pTab = nullptr;
    CRect m_rcTargetList;
    CResMsgDlg* m_pOwnMsgDlg = nullptr;
};
