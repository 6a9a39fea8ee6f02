// A small stand-in for the main window: it hosts a device list panel and a
// "pane" window, implements the forwarding operations the panel calls and
// records each call as a line of text.
#pragma once

#include "devices/device_list_dlg.h"
#include "devices_test_util.h"
#include "ui/gdip_button.h"
#include "ui/res_msg_dlg.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

namespace devtest {

class PanelHost : public CWnd, public IDeviceServices {
public:
    PanelHost(int width, int height)
    {
        CreateHandle();
        resize(width, height);
        panel = new CDeviceListDlg(this);
        panel->Create(CDeviceListDlg::IDD, this);
        panel->MoveWindow(0, 0, 219, height);
        panel->ShowWindow(SW_SHOW);
        pane = new CWnd(this);
        pane->Create(this, CRect(230, 10, 630, 310), 1063);
        paneChild = new CWnd(pane);
        paneChild->Create(pane, CRect(10, 10, 390, 290), 1064);
        SetDeviceServices(this);
        show();
        move(0, 0);
        QApplication::processEvents();
    }
    ~PanelHost() override { SetDeviceServices(nullptr); }

    CDeviceListDlg* panel = nullptr;
    CWnd* pane = nullptr;
    CWnd* paneChild = nullptr;
    std::vector<std::string> calls;
    int gridPanes = 16;
    int grids = 1;
    int emptyPaneResult = 0;
    int invites = 0;
    std::vector<MapEntry> maps;
    std::string currentMap;

    std::vector<MapEntry> Maps() override { return maps; }
    std::string CurrentMap() override { return currentMap; }
    void ShowMap(const char* name) override
    {
        currentMap = name;
        calls.push_back(std::string("ShowMap ") + name);
    }
    void ShowRecScheme(RecScheme*) override { calls.push_back("ShowRecScheme"); }

    static std::string Name(const DeviceInfo* d) { return d ? d->DevName : "none"; }

    HWND MainWnd() override { return m_hWnd; }
    void ReloadDevTrees() override
    {
        calls.push_back("ReloadDevTrees");
        panel->RefreshDevTree();
    }
    void ShowDevGroupInfo(DevGroupInfo* g) override
    {
        calls.push_back(std::string("ShowDevGroupInfo ") + (g ? g->GroupName : "none"));
    }
    void OnDevTreeSelDevice(DeviceInfo* d) override { calls.push_back("OnDevTreeSelDevice " + Name(d)); }
    void OnDevTreeSelVssChannel(RelayDevItem* e) override
    {
        calls.push_back(std::string("OnDevTreeSelVssChannel ") + e->DevName);
    }
    void OnStopWatch(DeviceInfo* d, int) override { calls.push_back("OnStopWatch " + Name(d)); }
    void DropDevToPane(HWND h, DeviceInfo* d, CPoint) override
    {
        calls.push_back("DropDevToPane " + std::string(h == paneChild->m_hWnd ? "pane " : "other ") + Name(d));
    }
    void DropDecoderToTVWall(DeviceInfo* d, CPoint) override { calls.push_back("DropDecoderToTVWall " + Name(d)); }
    void DropCameraToTVWall(DeviceInfo* d, CPoint) override { calls.push_back("DropCameraToTVWall " + Name(d)); }
    void DropDevToMap(DeviceInfo* d, CPoint) override { calls.push_back("DropDevToMap " + Name(d)); }
    void PlayDevInFreePane(DeviceInfo* d) override
    {
        calls.push_back("PlayDevInFreePane " + Name(d) + " res=" + d->Resolution + " ch=" +
                        std::to_string(d->CurNVRChannel));
    }
    void RemoveOnvifDevice(const char* a) override { calls.push_back(std::string("RemoveOnvifDevice ") + a); }
    const char* LocalMac() override { return "AA:BB"; }
    void SetRelayTarget(int t) override { calls.push_back("SetRelayTarget " + std::to_string(t)); }
    void RemoveMaintRow(const char* ip) override { calls.push_back(std::string("RemoveMaintRow ") + ip); }
    int GridCount() override { return grids; }
    int GridPaneCount(int) override { return gridPanes; }
    int EmptyPaneAt(HWND) override
    {
        calls.push_back("EmptyPaneAt");
        return emptyPaneResult;
    }
    void CloseRelayPaneOf(const RelayDevItem* e) override { calls.push_back(std::string("CloseRelayPaneOf ") + e->DevName); }
    void EmptyAllPanes() override { calls.push_back("EmptyAllPanes"); }
    int AddWatch(int grid, int pane, DeviceInfo* d) override
    {
        if (pane >= gridPanes)
            return -100;
        calls.push_back("AddWatch " + std::to_string(grid) + " " + std::to_string(pane) + " " + Name(d));
        return 0;
    }
    void TsNotifyUpdateDeviceList() override { calls.push_back("TS_NotifyUpdateDeviceList"); }
    void TsReportDeviceState(const char* name, int ch, int state) override
    {
        calls.push_back(std::string("TS_ReportDeviceState ") + name + " " + std::to_string(ch) + " " +
                        std::to_string(state));
    }
    int TsInviteDeviceVideo(int login, const char* name, int flag, int ch) override
    {
        ++invites;
        calls.push_back("TS_InviteDeviceVideo " + std::to_string(login) + " " + name + " " + std::to_string(flag) +
                        " " + std::to_string(ch));
        return 0;
    }

    // The calls without the selection notices a press on an item gives.
    std::vector<std::string> Actions() const
    {
        std::vector<std::string> out;
        for (const std::string& c : calls)
            if (c.rfind("OnDevTreeSel", 0) != 0 && c.rfind("ShowDevGroupInfo", 0) != 0)
                out.push_back(c);
        return out;
    }

    bool Called(const std::string& line) const
    {
        for (const std::string& c : calls)
            if (c == line)
                return true;
        return false;
    }

    // The panel's message box text ("" while hidden).
    std::string MsgText() const
    {
        CResMsgDlg* box = panel->m_pMsgDlg;
        return box && box->isVisible() ? box->GetDlgItemText(CResMsgDlg::IDC_TEXT) : "";
    }

    // --- input as a user gives it ---
    QWidget* Viewport() const { return panel->Tree()->viewport(); }
    QPoint Center(QTreeWidgetItem* item) const
    {
        panel->Tree()->scrollToItem(item);
        return panel->Tree()->visualItemRect(item).center();
    }
    void Click(QTreeWidgetItem* item, Qt::MouseButton b = Qt::LeftButton)
    {
        QTest::mouseClick(Viewport(), b, {}, Center(item));
    }
    void DoubleClick(QTreeWidgetItem* item)
    {
        QTest::mouseDClick(Viewport(), Qt::LeftButton, {}, Center(item));
    }
    // Press on the item, move past the drag distance, release at a screen point.
    void Drag(QTreeWidgetItem* item, QPoint screenTarget)
    {
        QPoint from = Center(item);
        QTest::mousePress(Viewport(), Qt::LeftButton, {}, from);
        QPoint step = from + QPoint(20, 0);
        QMouseEvent move(QEvent::MouseMove, step, Viewport()->mapToGlobal(step), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(Viewport(), &move);
        QPoint local = Viewport()->mapFromGlobal(screenTarget);
        QMouseEvent move2(QEvent::MouseMove, local, screenTarget, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Viewport(), &move2);
        QMouseEvent up(QEvent::MouseButtonRelease, local, screenTarget, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(Viewport(), &up);
    }
    QPoint PaneCenter() const { return paneChild->mapToGlobal(QPoint(190, 140)); }
};

} // namespace devtest
