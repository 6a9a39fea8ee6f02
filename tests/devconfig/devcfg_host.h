// The device page hosted in a test window that stands in for the main
// window's forwarding operations (each call kept as a line of text), with
// the device-control and stream-pull stand-ins running and a temporary
// configuration folder.
#pragma once

#include "controls/control_registry.h"
#include "core/config_store.h"
#include "core/devinfo.h"
#include "core/helpers.h"
#include "core/recinfo.h"
#include "devconfig/setting_dev_info_dlg.h"
#include "devices/dev_teardown.h"
#include "devices/dev_tree.h"
#include "devices/device_services.h"
#include "media/control_wrappers.h"
#include "platform/msgbox.h"
#include "res/strings.h"
#include "tests/core/config_globals.h"
#include "tests/support/scoped_env.h"
#include "ui/res_msg_dlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace devcfgtest {

class Host : public CWnd, public IDeviceServices {
public:
    Host()
    {
        CreateHandle();
        resize(800, 720);
        SetDeviceServices(this);
    }
    ~Host() override { SetDeviceServices(nullptr); }

    std::vector<std::string> calls;
    int watchPane = -1;
    bool decoderOnWall = false;
    std::vector<std::string> onvifEntries;
    std::mutex onvifLock;

    bool Called(const std::string& c) const
    {
        for (const std::string& s : calls)
            if (s == c)
                return true;
        return false;
    }
    HWND MainWnd() override { return m_hWnd; }
    void ReloadDevTrees() override { calls.push_back("ReloadDevTrees"); }
    void OnStopWatch(DeviceInfo* d, int how) override
    {
        calls.push_back(std::string("OnStopWatch ") + d->DevName + " " + std::to_string(how));
    }
    void RemoveOnvifDevice(const char* a) override { calls.push_back(std::string("RemoveOnvifDevice ") + a); }
    const char* LocalMac() override { return "AA:BB"; }
    void RemoveMaintRow(const char* ip) override { calls.push_back(std::string("RemoveMaintRow ") + ip); }
    int AddWatch(int grid, int pane, DeviceInfo* d) override
    {
        calls.push_back("AddWatch " + std::to_string(grid) + " " + std::to_string(pane) + " " + d->DevName + " " +
                        d->DevId);
        return 0;
    }
    void AddOnvifEntry(DeviceInfo* d) override
    {
        std::lock_guard<std::mutex> lock(onvifLock);
        onvifEntries.push_back(std::string(d->IPAddr) + " " + d->OnvifSerAddr);
    }
    void TsNotifyUpdateDeviceList() override { calls.push_back("TS_NotifyUpdateDeviceList"); }
    void TsReportDeviceState(const char* name, int ch, int state) override
    {
        calls.push_back(std::string("TS_ReportDeviceState ") + name + " " + std::to_string(ch) + " " +
                        std::to_string(state));
    }
    void UnbindTvWallCamera(const char* id) override { calls.push_back(std::string("UnbindTvWallCamera ") + id); }
    void SelectDevTreeItemByText(const char* t) override { calls.push_back(std::string("SelectDevTreeItem ") + t); }
    int FindWatchPane(const DeviceInfo*) override { return watchPane; }
    void RenamePaneDevice(int pane, const DeviceInfo* d) override
    {
        calls.push_back("RenamePaneDevice " + std::to_string(pane) + " " + d->DevName);
    }
    bool IsDecoderOnTvWall(const DeviceInfo*) override { return decoderOnWall; }
    void SetDefaultRecordFlag(int f) override { calls.push_back("SetDefaultRecordFlag " + std::to_string(f)); }
};

// The journal's call lines (name and arguments, result dropped) that begin
// with one of the prefixes.
inline std::vector<std::string> JournalCalls(const std::string& path, const std::vector<std::string>& prefixes)
{
    std::ifstream in(path);
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 5, "call\t") != 0)
            continue;
        std::string rest = line.substr(5);
        for (const std::string& p : prefixes)
            if (rest.compare(0, p.size(), p) == 0) {
                out.push_back(rest.substr(0, rest.rfind('\t')));
                break;
            }
    }
    return out;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline DeviceInfo Row(const char* group, const char* id, const char* name, int type = 1, const char* ip = "127.0.0.1",
                      int videoPort = 554, int ptzPort = 8091)
{
    DeviceInfo d{};
    std::strcpy(d.GroupName, group);
    std::strcpy(d.DevId, id);
    std::strcpy(d.DevName, name);
    std::strcpy(d.IPAddr, ip);
    std::strcpy(d.LoginName, "admin");
    std::strcpy(d.LoginPsw, "pw");
    std::strcpy(d.Resolution, "cif");
    std::strcpy(d.DefRes, "cif");
    d.DevType = type;
    d.VideoPort = videoPort;
    d.PtzPort = ptzPort;
    d.RtpOverRtsp = 1;
    return d;
}

inline void ResetLists()
{
    CDevTree::GetInstance()->StopP2PStatusThread();
    if (g_pRtspPullCtrl)
        g_pRtspPullCtrl->StopAll();
    DeleteDeviceSinks();
    cfgtest::ResetConfigGlobals();
    g_lstRelayServer.clear();
    g_nCfgSubPage = -1;
    g_szVendorNumber[0] = 0;
    std::memset(&g_SelDevInfo, 0, sizeof g_SelDevInfo);
}

class PageTest : public testing::Test {
protected:
    void SetUp() override
    {
        SetBuiltinLanguage(ResLanguage::English);
        qelm::RegisterStandInFactories();
        qelm::EnableControlClass(qelm::kClsidAuxPtz);
        qelm::EnableControlClass(qelm::kClsidRtspPull);
        ResetLists();
        ASSERT_TRUE(dir.isValid());
        SetConfigDir(dir.path().toStdString() + "/");
        std::ofstream(DevInfoPath()) << kDevInfoTemplate;
        g_lstDevGroupInfo.push_back(DevGroupInfo{"Default", 1});
        g_lstDevGroupInfo.push_back(DevGroupInfo{"Yard", 0});
        host = std::make_unique<Host>();
        CDevTree::GetInstance()->Init(); // the drivers every row shares
        page = new CSettingDevInfoDlg(host.get());
        page->Create(CSettingDevInfoDlg::IDD, host.get());
        page->MoveWindow(0, 0, 791, 718);
        page->ShowWindow(SW_SHOW);
        host->show();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        delete page;
        page = nullptr;
        host.reset();
        ResetLists();
        SetConfigDir("");
    }
    std::string DevInfoPath() const { return dir.path().toStdString() + "/DevInfo.xml"; }
    std::string Journal() const { return dir.filePath("journal.txt").toStdString(); }

    // Form access.
    void Type(UINT id, const std::string& text) { page->GetDlgItemT<QLineEdit>(id)->setText(QString::fromStdString(text)); }
    std::string Field(UINT id) const { return page->GetDlgItemText(id); }
    bool Enabled(UINT id) const { return page->GetDlgItem(id)->isEnabled(); }
    QComboBox* Combo(UINT id) const { return page->GetDlgItemT<QComboBox>(id); }
    // Chooses an entry as the operator does: the page reacts to the change.
    void Choose(UINT id, int index)
    {
        Combo(id)->setCurrentIndex(index);
        page->SendMessage(WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), 0);
    }
    void Click(UINT id) { qobject_cast<QAbstractButton*>(page->GetDlgItem(id))->click(); }
    void ChooseGroup(const char* name) { Combo(CSettingDevInfoDlg::IDC_COMBO_GROUP)->setCurrentText(name); }
    std::string LastMsg() const { return page->MsgDlg()->GetDlgItemText(CResMsgDlg::IDC_TEXT); }
    void ClearMsg() { page->MsgDlg()->SetDlgItemText(CResMsgDlg::IDC_TEXT, ""); }
    static std::string Str(unsigned id) { return LoadResString(id); }

    // Fills the local device form.
    void FillLocal(const std::string& name, const std::string& addr, const std::string& vport = "554",
                   const std::string& pport = "8091", const std::string& login = "admin",
                   const std::string& psw = "123456")
    {
        Type(CSettingDevInfoDlg::IDC_EDIT_DEVNAME, name);
        Type(CSettingDevInfoDlg::IDC_EDIT_ADDR, addr);
        Type(CSettingDevInfoDlg::IDC_EDIT_VIDEOPORT, vport);
        Type(CSettingDevInfoDlg::IDC_EDIT_PTZPORT, pport);
        Type(CSettingDevInfoDlg::IDC_EDIT_LOGIN, login);
        Type(CSettingDevInfoDlg::IDC_EDIT_PSW, psw);
    }

    // Presses a button of the system box once it shows (given up with the
    // test, or after about two seconds without a box).
    void AnswerBox(int button)
    {
        std::weak_ptr<int> alive = m_alive;
        QTimer::singleShot(20, [this, alive, button] {
            if (!alive.expired()) // checked before the fixture is touched
                PressBox(alive, button, 100);
        });
    }
    void PressBox(std::weak_ptr<int> alive, int button, int tries)
    {
        if (tries == 0)
            return;
        qelm::MessageBoxInfo box = qelm::LastMessageBox();
        if (!box.hwnd) {
            QTimer::singleShot(20, [this, alive, button, tries] {
                if (!alive.expired())
                    PressBox(alive, button, tries - 1);
            });
            return;
        }
        boxText = box.text;
        QWidget* w = qelm::WidgetFromHandle(box.hwnd);
        qobject_cast<QAbstractButton*>(w->findChild<QWidget*>(QString("id:%1").arg(button)))->click();
    }

    DeviceInfo* Find(const char* name)
    {
        for (DeviceInfo& d : g_lstDevInfo)
            if (std::strcmp(d.DevName, name) == 0)
                return &d;
        return nullptr;
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> out;
        for (const DeviceInfo& d : g_lstDevInfo)
            out.emplace_back(d.DevName);
        return out;
    }

    QTemporaryDir dir;
    std::unique_ptr<Host> host;
    CSettingDevInfoDlg* page = nullptr;
    std::string boxText;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace devcfgtest
