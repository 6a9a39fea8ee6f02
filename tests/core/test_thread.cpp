// Tests of the worker thread base CThread.
#include "core/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Runs until released, then returns its result.
class GateThread : public CThread {
public:
    explicit GateThread(int result = 0) : m_result(result) {}
    ~GateThread() override
    {
        Release();
        Join();
    }
    int Run() override
    {
        ++m_runs;
        while (!m_open.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return m_result;
    }
    void Release() { m_open = true; }
    void Rearm() { m_open = false; }
    std::atomic<int> m_runs{0};

private:
    std::atomic<bool> m_open{false};
    int m_result;
};

TEST(CThreadTest, JoinWithoutAThreadReturnsAtOnce)
{
    CThread t;
    t.Join();
    t.Join();
    DWORD code = 0;
    EXPECT_FALSE(t.GetExitCode(&code));
    EXPECT_FALSE(t.SetPriority(THREAD_PRIORITY_NORMAL));
}

TEST(CThreadTest, ExitCodeIsStillActiveThenTheResultUntilJoin)
{
    GateThread t(1);
    ASSERT_TRUE(t.Start());
    EXPECT_TRUE(t.Start()) << "a second start creates nothing";
    DWORD code = 0;
    ASSERT_TRUE(t.GetExitCode(&code));
    EXPECT_EQ(code, STILL_ACTIVE);
    t.Release();
    for (int i = 0; i < 2000 && code == STILL_ACTIVE; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(t.GetExitCode(&code));
    }
    EXPECT_EQ(code, 1u);
    t.Join();
    EXPECT_FALSE(t.GetExitCode(&code));
    EXPECT_EQ(t.m_runs.load(), 1);
}

TEST(CThreadTest, StartAfterJoinRunsAgain)
{
    GateThread t;
    ASSERT_TRUE(t.Start());
    t.Release();
    t.Join();
    t.Join(); // the second join waits for nothing
    t.Rearm();
    ASSERT_TRUE(t.Start());
    t.Release();
    t.Join();
    EXPECT_EQ(t.m_runs.load(), 2);
}

TEST(CThreadTest, ConcurrentJoinsWaitOnce)
{
    GateThread t;
    ASSERT_TRUE(t.Start());
    std::thread a([&] { t.Join(); });
    std::thread b([&] { t.Join(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    t.Release();
    a.join();
    b.join();
    DWORD code;
    EXPECT_FALSE(t.GetExitCode(&code));
}

std::atomic<bool> g_baseBodyMayEnd{false};
std::atomic<bool> g_baseBodyRunning{false};

// Its body uses no member, so deleting it while it runs is only about the thread.
class DetachedBody : public CThread {
public:
    int Run() override
    {
        g_baseBodyRunning = true;
        while (!g_baseBodyMayEnd.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 0;
    }
};

TEST(CThreadTest, DeletingARunningThreadJoinsIt)
{
    auto* t = new DetachedBody;
    ASSERT_TRUE(t->Start());
    // Deleted before its body runs, the thread would find only the base class.
    while (!g_baseBodyRunning.load())
        std::this_thread::yield();
    std::thread releaser([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        g_baseBodyMayEnd = true;
    });
    delete t; // waits for the body instead of leaving it running on freed memory
    // The body ends only after the flag is set, so seeing it set proves the wait.
    EXPECT_TRUE(g_baseBodyMayEnd.load());
    releaser.join();
}

std::atomic<bool> g_selfDeleted{false};

class SelfDeleting : public CThread {
public:
    int Run() override
    {
        delete this; // the destructor runs on the thread itself: no self-join
        g_selfDeleted = true;
        return 0;
    }
};

TEST(CThreadTest, ABodyMayDeleteItsOwnObject)
{
    auto* t = new SelfDeleting;
    ASSERT_TRUE(t->Start());
    for (int i = 0; i < 2000 && !g_selfDeleted.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(g_selfDeleted.load());
}

TEST(CThreadTest, SuspendAndResumeAreNotAvailable)
{
    GateThread t;
    ASSERT_TRUE(t.Start());
    EXPECT_EQ(t.Suspend(), 0xFFFFFFFFu);
    EXPECT_EQ(t.Resume(), 0xFFFFFFFFu);
}

TEST(CThreadTest, PriorityCanBeLoweredAndUnknownValuesAreRefused)
{
    GateThread t;
    ASSERT_TRUE(t.Start());
    EXPECT_TRUE(t.SetPriority(THREAD_PRIORITY_BELOW_NORMAL));
    EXPECT_FALSE(t.SetPriority(7));
}

} // namespace
