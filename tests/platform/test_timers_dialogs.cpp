// Window timers, multimedia timers, modal dialogs, the message box, control
// ids and the small conversions every window uses.
#include "platform/dialog.h"
#include "platform/message.h"
#include "platform/mmtimer.h"
#include "platform/monitor.h"
#include "platform/msgbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

class CTickWnd : public CWnd {
public:
    std::vector<std::pair<UINT_PTR, qint64>> ticks;
    QElapsedTimer clock;

protected:
    void OnTimer(UINT_PTR id) override { ticks.emplace_back(id, clock.elapsed()); }
};

TEST(WindowTimer, SettingARunningIdRestartsItsPeriod)
{
    CTickWnd wnd;
    wnd.Create(nullptr, CRect(0, 0, 10, 10));
    wnd.clock.start();
    ASSERT_EQ(wnd.SetTimer(7, 400), 7u);
    QTest::qWait(250);
    ASSERT_EQ(wnd.SetTimer(7, 400), 7u); // restarts: next tick near 650 ms, not 400
    ASSERT_TRUE(QTest::qWaitFor([&] { return !wnd.ticks.empty(); }, 3000));
    EXPECT_EQ(wnd.ticks.front().first, 7u);
    EXPECT_GE(wnd.ticks.front().second, 600);
}

TEST(WindowTimer, KillStopsTicksAndUnknownIdsFail)
{
    CTickWnd wnd;
    wnd.Create(nullptr, CRect(0, 0, 10, 10));
    wnd.clock.start();
    wnd.SetTimer(1, 20);
    wnd.SetTimer(2, 20);
    ASSERT_TRUE(QTest::qWaitFor([&] { return wnd.ticks.size() >= 4; }, 3000));
    EXPECT_TRUE(wnd.KillTimer(1));
    EXPECT_FALSE(wnd.KillTimer(1));
    EXPECT_FALSE(wnd.KillTimer(99));
    wnd.ticks.clear();
    QTest::qWait(120);
    for (const auto& [id, at] : wnd.ticks)
        EXPECT_EQ(id, 2u);
    EXPECT_FALSE(wnd.ticks.empty());
    // A destroyed window's timers die with its handle.
    wnd.DestroyWindow();
    wnd.ticks.clear();
    QTest::qWait(80);
    EXPECT_TRUE(wnd.ticks.empty());
}

TEST(WindowTimer, NoTimerWithoutAWindow)
{
    CTickWnd wnd; // never created
    EXPECT_EQ(wnd.SetTimer(1, 10), 0u);
}

struct MmState {
    std::atomic<int> calls{0};
    std::atomic<bool> inside{false};
    std::atomic<UINT> selfKill{0};
};

void CALLBACK_Slow(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR)
{
    auto* s = reinterpret_cast<MmState*>(user);
    s->inside = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
    ++s->calls;
    s->inside = false;
}

TEST(MultimediaTimer, KillGuaranteesNoCallbackAfterReturn)
{
    for (int round = 0; round < 10; ++round) {
        MmState s;
        const MMRESULT id = timeSetEvent(2, 1, &CALLBACK_Slow, reinterpret_cast<DWORD_PTR>(&s), TIME_PERIODIC);
        ASSERT_NE(id, 0u);
        while (s.calls < 1 + round % 3)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::microseconds(round * 1300));
        EXPECT_EQ(timeKillEvent(id), TIMERR_NOERROR);
        EXPECT_FALSE(s.inside.load());
        const int after = s.calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        EXPECT_EQ(s.calls.load(), after);
        EXPECT_EQ(timeKillEvent(id), MMSYSERR_INVALPARAM);
    }
}

void CALLBACK_KillSelf(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR)
{
    auto* s = reinterpret_cast<MmState*>(user);
    ++s->calls;
    timeKillEvent(id); // must not wait for itself
}

// Waits for a callback count without assuming how soon a busy machine runs it.
bool WaitForCalls(const MmState& s, int n)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (s.calls.load() < n && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return s.calls.load() >= n;
}

TEST(MultimediaTimer, CallbackMayKillItsOwnTimerAndOneShotsRunOnce)
{
    // Both timers point at these locals: each is dead (killed or spent) before
    // the test returns, so no late callback can write into a later stack.
    MmState s;
    const MMRESULT id = timeSetEvent(5, 1, &CALLBACK_KillSelf, reinterpret_cast<DWORD_PTR>(&s), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    const bool ran = WaitForCalls(s, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    timeKillEvent(id); // normally gone already; this waits out a late run
    ASSERT_TRUE(ran);
    EXPECT_EQ(s.calls.load(), 1);

    MmState once;
    const MMRESULT oneShot = timeSetEvent(5, 1, &CALLBACK_Slow, reinterpret_cast<DWORD_PTR>(&once), TIME_ONESHOT);
    ASSERT_NE(oneShot, 0u);
    const bool onceRan = WaitForCalls(once, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    timeKillEvent(oneShot); // a run still finishing is waited out
    ASSERT_TRUE(onceRan);
    EXPECT_EQ(once.calls.load(), 1);
    EXPECT_EQ(timeSetEvent(0, 1, &CALLBACK_Slow, 0, TIME_PERIODIC), 0u);
}

// A modal dialog that ends itself once it has seen a posted message from a
// worker thread and then a timer tick: both must arrive inside DoModal.
class CModalProbeDlg : public CDialog {
public:
    static constexpr UINT WM_PROBE = WM_USER + 100;
    bool gotPost = false;
    int ticksAfterPost = 0;
    std::thread worker;

protected:
    BOOL OnInitDialog() override
    {
        SetTimer(1, 20);
        const HWND h = m_hWnd;
        worker = std::thread([h] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ::PostMessage(h, WM_PROBE, 5, 0);
        });
        return TRUE;
    }
    LRESULT OnProbe(WPARAM w, LPARAM)
    {
        gotPost = w == 5;
        return 0;
    }
    void OnTimer(UINT_PTR) override
    {
        if (gotPost && ++ticksAfterPost == 2)
            EndDialog(42);
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CModalProbeDlg, CDialog)
    ON_MESSAGE(WM_PROBE, &CModalProbeDlg::OnProbe)
END_MESSAGE_MAP()

TEST(Dialog, ModalLoopDispatchesPostedMessagesAndTimers)
{
    CModalProbeDlg dlg;
    EXPECT_EQ(dlg.DoModal(), 42);
    dlg.worker.join();
    EXPECT_TRUE(dlg.gotPost);
    EXPECT_EQ(dlg.m_hWnd, nullptr); // destroyed on return
    // Runs again with fresh state.
    dlg.gotPost = false;
    dlg.ticksAfterPost = 0;
    EXPECT_EQ(dlg.DoModal(), 42);
    dlg.worker.join();
}

class CEndAtInitDlg : public CDialog {
protected:
    BOOL OnInitDialog() override
    {
        EndDialog(IDOK);
        return TRUE;
    }
};

TEST(Dialog, EndDialogDuringInitReturnsAtOnce)
{
    CEndAtInitDlg dlg;
    EXPECT_EQ(dlg.DoModal(), IDOK);
}

TEST(Dialog, EscapeCancelsAndEnterConfirms)
{
    struct Case {
        Qt::Key key;
        int expected;
    };
    for (const Case c : {Case{Qt::Key_Escape, IDCANCEL}, Case{Qt::Key_Return, IDOK}}) {
        CDialog dlg;
        QTimer::singleShot(50, [&] { QTest::keyClick(&dlg, c.key); });
        EXPECT_EQ(dlg.DoModal(), c.expected);
    }
}

TEST(MessageBox, ShowsTextAndReturnsTheButtonPressed)
{
    struct Case {
        UINT type;
        int press;
    };
    for (const Case c : {Case{MB_YESNO, IDYES}, Case{MB_YESNO, IDNO}, Case{MB_OKCANCEL, IDCANCEL}, Case{MB_OK, IDOK}}) {
        qelm::MessageBoxInfo seen;
        QTimer::singleShot(50, [&] {
            seen = qelm::LastMessageBox();
            QWidget* box = qelm::WidgetFromHandle(seen.hwnd);
            ASSERT_NE(box, nullptr);
            auto* b = qobject_cast<QAbstractButton*>(box->findChild<QWidget*>(QStringLiteral("id:%1").arg(c.press)));
            ASSERT_NE(b, nullptr);
            b->click();
        });
        EXPECT_EQ(MessageBoxA(nullptr, "前门摄像机 offline", "Corvane", c.type), c.press);
        EXPECT_EQ(seen.text, "前门摄像机 offline");
        EXPECT_EQ(seen.caption, "Corvane");
        EXPECT_EQ(qelm::LastMessageBox().hwnd, nullptr); // closed
    }
}

TEST(Controls, IdsTextsAndChecks)
{
    CDialog dlg;
    dlg.Create(0);
    auto* label = new QLabel(&dlg);
    auto* edit = new QLineEdit(&dlg);
    auto* check = new QCheckBox(&dlg);
    qelm::SetControlId(label, 1002);
    qelm::SetControlId(edit, 1003);
    qelm::SetControlId(check, 1004);

    EXPECT_EQ(label->objectName(), "id:1002");
    EXPECT_EQ(dlg.GetDlgItem(1003), edit);
    EXPECT_EQ(dlg.GetDlgItem(999), nullptr);
    EXPECT_TRUE(IsWindow(qelm::HandleOf(edit)));

    dlg.SetDlgItemText(1002, "通道 1");
    EXPECT_EQ(dlg.GetDlgItemText(1002), "通道 1");
    dlg.SetDlgItemInt(1003, -25);
    BOOL ok = FALSE;
    EXPECT_EQ(dlg.GetDlgItemInt(1003, &ok), -25);
    EXPECT_TRUE(ok);
    dlg.SetDlgItemText(1003, "12a");
    EXPECT_EQ(dlg.GetDlgItemInt(1003, &ok), 0);
    EXPECT_FALSE(ok);

    dlg.CheckDlgButton(1004, 1);
    EXPECT_EQ(dlg.IsDlgButtonChecked(1004), 1u);
    dlg.CheckDlgButton(1004, 0);
    EXPECT_EQ(dlg.IsDlgButtonChecked(1004), 0u);

    const HWND editHandle = qelm::HandleOf(edit);
    delete edit;
    EXPECT_FALSE(IsWindow(editHandle));
    EXPECT_EQ(qelm::WidgetClassName(&dlg), "CDialog");
    EXPECT_EQ(qelm::WidgetClassName(label), "QLabel");
}

TEST(Conversions, ColoursAndDialogUnits)
{
    const QColor orange = qelm::ToQColor(RGB(247, 113, 33));
    EXPECT_EQ(orange, QColor(247, 113, 33));
    EXPECT_EQ(qelm::FromQColor(orange), 0x2171F7u);
    EXPECT_EQ(qelm::DialogUnitsToPixels(CRect(0, 0, 100, 80)), CRect(0, 0, 150, 130));
    ASSERT_FALSE(qelm::Monitors().empty());
    EXPECT_TRUE(qelm::Monitors().front().primary);
    EXPECT_GT(GetSystemMetrics(SM_CXSCREEN), 0);
}

} // namespace
