// Shared by the settings page tests: a temporary Config folder with the
// account and plan files, a host window that stands in for the main window
// and records what the pages tell it, and helpers for the message boxes.
#pragma once

#include "core/config_store.h"
#include "core/devinfo.h"
#include "core/log.h"
#include "core/recinfo.h"
#include "core/userinfo.h"
#include "devices/device_services.h"
#include "platform/msgbox.h"
#include "platform/sync.h"
#include "platform/wnd.h"
#include "ui/res_msg_dlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QThread>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace settest {

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The main window as the pages reach it; each call is kept as a line.
class Host : public CWnd, public IDeviceServices {
public:
    Host()
    {
        CreateHandle();
        resize(1400, 900);
        SetDeviceServices(this);
    }
    ~Host() override { SetDeviceServices(nullptr); }
    HWND MainWnd() override { return m_hWnd; }
    void ReloadRecSchemeTree() override { calls.push_back("ReloadRecSchemeTree"); }
    void RefreshUserTree() override { calls.push_back("RefreshUserTree"); }
    void RefreshRoleTree() override { calls.push_back("RefreshRoleTree"); }
    void SetMarqueeText(const char* text) override { calls.push_back(std::string("SetMarqueeText ") + text); }
    void SetDefaultRecordCaption(unsigned id) override { calls.push_back("Caption " + std::to_string(id)); }
    void SetScheduledRecordSkin(unsigned skin, unsigned tip) override
    {
        calls.push_back("Skin " + std::to_string(skin) + " " + std::to_string(tip));
    }
    void ClearDefaultRecordFlag() override { calls.push_back("ClearDefaultRecordFlag"); }
    std::vector<std::string> calls;
};

// A fresh Config folder with the built-in account and plan files, empty
// lists, and a host window.
class PageTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        m_config = m_tmp.path().toStdString() + "/Config/";
        QDir().mkpath(QString::fromStdString(m_config));
        CloseLog(); // a log of an earlier test's folder
        SetConfigDir(m_config);
        setenv("QELM2_DATA", m_tmp.path().toUtf8().constData(), 1);
        ClearLists();
        LoadUserInfo(); // writes the template
        ClearLists();
        ASSERT_EQ(LoadUserInfo(), 0);
        LoadRecInfo();
        std::strcpy(g_szUserName, "admin");
        host = std::make_unique<Host>();
    }
    void TearDown() override
    {
        host.reset();
        ClearLists();
        CloseLog();
        SetConfigDir("");
        unsetenv("QELM2_DATA");
        g_szUserName[0] = 0;
    }
    void ClearLists()
    {
        qelm::CsLock lock(g_csDevList);
        g_lstUserInfo.clear();
        g_lstGroupInfo.clear();
        g_lstRoleInfo.clear();
        g_lstLoginInfo.clear();
        for (RecScheme* p : g_lstRecSchemeInfo)
            delete p;
        g_lstRecSchemeInfo.clear();
        if (m_clearDevices)
            g_lstDevInfo.clear();
        g_strDispInfo.clear();
        g_DispInfoSetting = DispInfoSetting{};
    }
    std::string ConfigFile(const char* name) const { return ReadFile(m_config + name); }
    // The program log the user file opened in the data folder.
    std::string LogText() const
    {
        FlushLog();
        QDirIterator it(m_tmp.path(), {"clientlog.txt"}, QDir::Files, QDirIterator::Subdirectories);
        return it.hasNext() ? ReadFile(it.next().toStdString()) : std::string();
    }

    // The text the page's message box shows now ("" when hidden).
    static std::string Msg(CResMsgDlg* box)
    {
        if (!box || !box->isVisible())
            return std::string();
        auto* label = box->findChild<QLabel*>("id:1284");
        return label ? label->text().toStdString() : std::string();
    }
    static void HideMsg(CResMsgDlg* box)
    {
        if (box)
            box->hide();
    }

    // Presses a button of the next system message box once it is open and
    // keeps its text; the box is modal, so the press comes from a timer.
    struct BoxAnswer {
        std::string text, caption;
        int shown = 0;
    };
    std::shared_ptr<BoxAnswer> AnswerNextBox(int button)
    {
        auto answer = std::make_shared<BoxAnswer>();
        auto* timer = new QTimer(host.get()); // gone with the host if never answered
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, [timer, answer, button] {
            const qelm::MessageBoxInfo box = qelm::LastMessageBox();
            QWidget* w = box.hwnd ? qelm::WidgetFromHandle(box.hwnd) : nullptr;
            if (!w)
                return;
            answer->text = box.text;
            answer->caption = box.caption;
            ++answer->shown;
            if (auto* b = w->findChild<QAbstractButton*>(QString("id:%1").arg(button)))
                b->click();
            timer->stop();
            timer->deleteLater();
        });
        timer->start();
        return answer;
    }

    QTemporaryDir m_tmp;
    std::string m_config;
    bool m_clearDevices = true; // false when the test's own helper removes its records
    std::unique_ptr<Host> host;
};

// Runs the event loop until done holds or ms pass.
inline bool WaitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

inline DeviceInfo MakeDevice(const char* id, const char* name, int type = 1, int channel = 0)
{
    DeviceInfo d;
    std::memset(&d, 0, sizeof d);
    std::strcpy(d.DevId, id);
    std::strcpy(d.DevName, name);
    std::strcpy(d.GroupName, "G");
    d.DevType = type;
    d.CurNVRChannel = channel;
    d.VisitMod = 0;
    return d;
}

} // namespace settest
