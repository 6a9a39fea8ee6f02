// Posted, sent and thread messages; message maps, notification bubbling and
// the PreTranslateMessage walk.
#include "platform/dialog.h"
#include "platform/message.h"
#include "platform/sync.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr UINT WM_PAYLOAD = WM_USER + 6000;
constexpr UINT WM_UNMAPPED = WM_USER + 6001;
constexpr UINT WM_ADD = WM_USER + 6002;

std::atomic<int> g_payloadsAlive{0};
std::atomic<int> g_payloadsFreed{0};

struct Payload {
    Payload() { ++g_payloadsAlive; }
    ~Payload()
    {
        --g_payloadsAlive;
        ++g_payloadsFreed;
    }
    int value = 7;
};

class CReceiverWnd : public CWnd {
public:
    std::vector<int> received;
    std::thread::id handlerThread;
    bool consumeInPreTranslate = false;
    std::vector<UINT> preTranslated;

    BOOL PreTranslateMessage(MSG* pMsg) override
    {
        preTranslated.push_back(pMsg->message);
        if (!consumeInPreTranslate)
            return FALSE;
        // Whoever consumes a message owns its payload.
        if (pMsg->message == WM_PAYLOAD)
            delete reinterpret_cast<Payload*>(pMsg->lParam);
        return TRUE;
    }

protected:
    LRESULT OnPayload(WPARAM, LPARAM lParam)
    {
        std::unique_ptr<Payload> p(reinterpret_cast<Payload*>(lParam)); // the handler owns it
        received.push_back(p->value);
        return 0;
    }
    LRESULT OnAdd(WPARAM wParam, LPARAM lParam)
    {
        handlerThread = std::this_thread::get_id();
        return static_cast<LRESULT>(wParam) + lParam;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CReceiverWnd, CWnd)
    ON_MESSAGE(WM_PAYLOAD, &CReceiverWnd::OnPayload)
    ON_MESSAGE(WM_ADD, &CReceiverWnd::OnAdd)
END_MESSAGE_MAP()

void Pump()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

class MessageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_payloadsAlive = 0;
        g_payloadsFreed = 0;
    }
};

// What becomes of a heap payload posted to a window, by what happens before delivery.
enum class Fate { Delivered, Unmapped, ObjectDeleted, WindowDestroyed, ConsumedByFilter };

struct FateCase {
    const char* name;
    Fate fate;
    bool handlerRuns;
};

class PayloadFate : public MessageTest, public ::testing::WithParamInterface<FateCase> {};

TEST_P(PayloadFate, PayloadIsFreedExactlyOnce)
{
    const FateCase& c = GetParam();
    auto* wnd = new CReceiverWnd;
    ASSERT_TRUE(wnd->Create(nullptr, CRect(0, 0, 10, 10)));
    const HWND h = wnd->m_hWnd;
    const UINT msg = c.fate == Fate::Unmapped ? WM_UNMAPPED : WM_PAYLOAD;
    ASSERT_TRUE(PostPayload(h, msg, 0, new Payload));

    switch (c.fate) {
    case Fate::ObjectDeleted: delete wnd; wnd = nullptr; break;
    case Fate::WindowDestroyed: wnd->DestroyWindow(); break;
    case Fate::ConsumedByFilter: wnd->consumeInPreTranslate = true; break;
    default: break;
    }
    Pump();

    EXPECT_EQ(g_payloadsAlive.load(), 0) << c.name;
    if (wnd) {
        EXPECT_EQ(wnd->received.size(), c.handlerRuns ? 1u : 0u) << c.name;
        delete wnd;
    }
    Pump();
    EXPECT_EQ(g_payloadsFreed.load(), 1) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Fates, PayloadFate,
                         ::testing::Values(FateCase{"delivered", Fate::Delivered, true},
                                           FateCase{"no handler", Fate::Unmapped, false},
                                           FateCase{"object deleted", Fate::ObjectDeleted, false},
                                           FateCase{"window destroyed", Fate::WindowDestroyed, false},
                                           FateCase{"consumed by filter", Fate::ConsumedByFilter, false}),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (char& ch : n)
                                 if (ch == ' ') ch = '_';
                             return n;
                         });

TEST_F(MessageTest, PostToDeadHandleFailsAndLeavesPayloadToCaller)
{
    HWND h = nullptr;
    {
        CReceiverWnd wnd;
        wnd.Create(nullptr, CRect(0, 0, 10, 10));
        h = wnd.m_hWnd;
        EXPECT_TRUE(IsWindow(h));
    }
    EXPECT_FALSE(IsWindow(h));
    auto* p = new Payload;
    EXPECT_FALSE(PostPayload(h, WM_PAYLOAD, 0, p));
    EXPECT_FALSE(PostMessage(nullptr, WM_PAYLOAD, 0, 0));
    Pump();
    EXPECT_EQ(g_payloadsAlive.load(), 1);
    delete p;
}

TEST_F(MessageTest, HandlesAreNeverReused)
{
    CReceiverWnd a;
    a.Create(nullptr, CRect(0, 0, 10, 10));
    const HWND first = a.m_hWnd;
    a.DestroyWindow();
    a.Create(nullptr, CRect(0, 0, 10, 10));
    EXPECT_NE(a.m_hWnd, first);
    EXPECT_FALSE(IsWindow(first));
    // A message posted to the earlier life of the object is not delivered to the new one.
    EXPECT_FALSE(PostPayload(first, WM_PAYLOAD, 0, std::make_unique<Payload>().get()));
}

TEST_F(MessageTest, PostsFromManyThreadsArriveInOrderPerThread)
{
    CReceiverWnd wnd;
    wnd.Create(nullptr, CRect(0, 0, 10, 10));
    const HWND h = wnd.m_hWnd;
    constexpr int kThreads = 4;
    constexpr int kEach = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([h, t] {
            for (int i = 0; i < kEach; ++i) {
                auto* p = new Payload;
                p->value = t * 1000 + i;
                if (!PostPayload(h, WM_PAYLOAD, 0, p))
                    delete p;
            }
        });
    for (auto& th : threads)
        th.join();
    Pump();
    ASSERT_EQ(wnd.received.size(), static_cast<size_t>(kThreads * kEach));
    std::vector<int> last(kThreads, -1);
    for (int v : wnd.received) {
        const int t = v / 1000;
        EXPECT_GT(v % 1000, last[t]);
        last[t] = v % 1000;
    }
    EXPECT_EQ(g_payloadsAlive.load(), 0);
}

TEST_F(MessageTest, CrossThreadSendReturnsHandlerResultFromUiThread)
{
    CReceiverWnd wnd;
    wnd.Create(nullptr, CRect(0, 0, 10, 10));
    const HWND h = wnd.m_hWnd;
    std::atomic<LRESULT> result{-1};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        result = SendMessage(h, WM_ADD, 40, 2);
        done = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 5000));
    worker.join();
    EXPECT_EQ(result.load(), 42);
    EXPECT_EQ(wnd.handlerThread, std::this_thread::get_id());
    // Same thread: runs at once.
    EXPECT_EQ(wnd.SendMessage(WM_ADD, 1, 1), 2);
}

TEST_F(MessageTest, CrossThreadSendToWindowThatDiesReturnsZero)
{
    auto* wnd = new CReceiverWnd;
    wnd->Create(nullptr, CRect(0, 0, 10, 10));
    const HWND h = wnd->m_hWnd;
    std::atomic<LRESULT> result{-1};
    std::atomic<bool> started{false};
    std::thread worker([&] {
        started = true;
        result = SendMessage(h, WM_ADD, 40, 2);
    });
    while (!started)
        std::this_thread::yield();
    // The window may die before or after the worker posts; either way the
    // worker returns rather than hanging.
    delete wnd;
    Pump();
    worker.join();
    EXPECT_EQ(result.load(), 0);
}

TEST_F(MessageTest, PostedMessageIsOfferedToTargetThenParents)
{
    CReceiverWnd parent;
    parent.Create(nullptr, CRect(0, 0, 100, 100));
    auto* child = new CReceiverWnd;
    child->Create(&parent, CRect(0, 0, 50, 50));
    parent.consumeInPreTranslate = true;

    ASSERT_TRUE(PostPayload(child->m_hWnd, WM_PAYLOAD, 0, new Payload));
    Pump();
    EXPECT_EQ(child->preTranslated, std::vector<UINT>{WM_PAYLOAD});
    EXPECT_EQ(parent.preTranslated, std::vector<UINT>{WM_PAYLOAD});
    EXPECT_TRUE(child->received.empty()); // consumed on the way
    EXPECT_EQ(g_payloadsFreed.load(), 1);
}

TEST_F(MessageTest, KeyInputReachesPreTranslateOnceThroughTheParents)
{
    CReceiverWnd top;
    top.Create(nullptr, CRect(0, 0, 200, 100));
    auto* edit = new QLineEdit(&top);
    qelm::SetControlId(edit, 1005);
    top.show();
    top.consumeInPreTranslate = true;

    QTest::keyClick(edit, Qt::Key_Escape);
    QTest::keyClick(edit, Qt::Key_X);
    const auto count = std::count(top.preTranslated.begin(), top.preTranslated.end(), WM_KEYDOWN);
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(edit->text().isEmpty()); // consumed before the edit saw it
}

class CPageDlg : public CDialog {
public:
    CPageDlg() { SetChildStyle(true); }
    enum { IDC_PAGE_BUTTON = 1201 };

protected:
    void CreateControls() override
    {
        auto* b = new QPushButton(QStringLiteral("Go"), this);
        qelm::SetControlId(b, IDC_PAGE_BUTTON);
    }
};

class CHostDlg : public CDialog {
public:
    int clicks = 0;
    std::vector<UINT> rangeIds;

protected:
    void OnGo() { ++clicks; }
    void OnRange(UINT id) { rangeIds.push_back(id); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CHostDlg, CDialog)
    ON_BN_CLICKED(CPageDlg::IDC_PAGE_BUTTON, &CHostDlg::OnGo)
    ON_COMMAND_RANGE(2000, 2009, &CHostDlg::OnRange)
END_MESSAGE_MAP()

TEST_F(MessageTest, UnhandledCommandBubblesToParentAndRangesMatch)
{
    CHostDlg host;
    host.Create(0);
    CPageDlg page;
    page.Create(0, &host);
    auto* button = qobject_cast<QPushButton*>(page.GetDlgItem(CPageDlg::IDC_PAGE_BUTTON));
    ASSERT_NE(button, nullptr);
    button->click();
    EXPECT_EQ(host.clicks, 1);

    host.SendMessage(WM_COMMAND, MAKEWPARAM(2004, 0), 0);
    host.SendMessage(WM_COMMAND, MAKEWPARAM(2010, 0), 0);
    EXPECT_EQ(host.rangeIds, std::vector<UINT>{2004});
}

struct ThreadResult {
    std::vector<UINT> messages;
    std::vector<int> values;
};

TEST_F(MessageTest, ThreadMessagesReachTheWorkersOwnQueue)
{
    EXPECT_FALSE(PostThreadMessage(0xFFFFFF, WM_USER + 3, 0, 0)); // nobody has that queue
    std::atomic<DWORD> tid{0};
    ThreadResult result;
    std::thread worker([&] {
        MSG m;
        PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE); // creates the queue
        tid = GetCurrentThreadId();
        while (GetMessage(&m, nullptr, 0, 0)) {
            result.messages.push_back(m.message);
            std::unique_ptr<Payload> p(reinterpret_cast<Payload*>(m.lParam));
            result.values.push_back(p ? p->value : -1);
        }
    });
    while (!tid)
        std::this_thread::yield();
    auto del = [](WPARAM, LPARAM l) { delete reinterpret_cast<Payload*>(l); };
    EXPECT_TRUE(PostThreadMessage(tid, WM_USER + 3, 0, reinterpret_cast<LPARAM>(new Payload), del));
    EXPECT_TRUE(PostThreadMessage(tid, WM_USER + 4, 0, 0));
    EXPECT_TRUE(PostThreadMessage(tid, WM_QUIT, 0, 0));
    worker.join();
    EXPECT_EQ(result.messages, (std::vector<UINT>{WM_USER + 3, WM_USER + 4}));
    EXPECT_EQ(result.values, (std::vector<int>{7, -1}));
    EXPECT_EQ(g_payloadsAlive.load(), 0);
}

TEST_F(MessageTest, PayloadsLeftInAThreadQueueAreFreedWhenTheThreadEnds)
{
    std::atomic<DWORD> tid{0};
    std::atomic<bool> posted{false};
    std::thread worker([&] {
        MSG m;
        PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE);
        tid = GetCurrentThreadId();
        while (!posted)
            std::this_thread::yield();
    });
    while (!tid)
        std::this_thread::yield();
    auto del = [](WPARAM, LPARAM l) { delete reinterpret_cast<Payload*>(l); };
    ASSERT_TRUE(PostThreadMessage(tid, WM_USER + 3, 0, reinterpret_cast<LPARAM>(new Payload), del));
    posted = true;
    worker.join();
    EXPECT_EQ(g_payloadsAlive.load(), 0);
    EXPECT_EQ(g_payloadsFreed.load(), 1);
    EXPECT_FALSE(PostThreadMessage(tid, WM_USER + 3, 0, 0));
}

} // namespace
