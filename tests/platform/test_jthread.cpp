// Tests of JThread, JMutex and JMutexAutoLock.
#include "platform/jthread/jmutex.h"
#include "platform/jthread/jmutexautolock.h"
#include "platform/jthread/jthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// A thread whose body is a function of the test.
class TestThread : public JThread {
public:
    explicit TestThread(std::function<void*(TestThread&)> body) : m_body(std::move(body)) {}
    ~TestThread() override { Kill(); }
    void* Thread() override { return m_body(*this); }
    using JThread::ThreadStarted;

private:
    std::function<void*(TestThread&)> m_body;
};

// Polls until the stop request, as the system's workers do.
void* PollUntilStopped(TestThread& t, std::atomic<int>& loops)
{
    t.ThreadStarted();
    while (!t.IsStopRequested()) {
        ++loops;
        std::this_thread::sleep_for(1ms);
    }
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x51));
}

bool WaitUntil(const std::function<bool()>& done)
{
    for (int i = 0; i < 5000; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

} // namespace

TEST(JThreadTest, StartReturnsAfterThreadStarted)
{
    std::atomic<bool> setUp{false};
    std::atomic<bool> release{false};
    TestThread t([&](TestThread& self) -> void* {
        std::this_thread::sleep_for(50ms); // make a Start that does not wait visible
        setUp = true;
        self.ThreadStarted();
        while (!release)
            std::this_thread::sleep_for(1ms);
        return nullptr;
    });
    ASSERT_EQ(t.Start(), 0);
    EXPECT_TRUE(setUp.load());
    EXPECT_TRUE(t.IsRunning());
    EXPECT_EQ(t.Start(), ERR_JTHREAD_ALREADYRUNNING);
    release = true;
    EXPECT_TRUE(WaitUntil([&] { return !t.IsRunning(); }));
}

TEST(JThreadTest, KillStopsAPollingThreadAndJoins)
{
    std::atomic<int> loops{0};
    TestThread t([&](TestThread& self) { return PollUntilStopped(self, loops); });
    ASSERT_EQ(t.Start(), 0);
    EXPECT_TRUE(WaitUntil([&] { return loops > 2; }));
    EXPECT_EQ(t.Kill(), 0);
    EXPECT_FALSE(t.IsRunning());
    int after = loops;
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(loops.load(), after) << "the body still runs after Kill returned";
    EXPECT_EQ(t.GetReturnValue(), reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x51)));
    EXPECT_EQ(t.Kill(), ERR_JTHREAD_NOTRUNNING);
}

TEST(JThreadTest, FinishesRestartsAndReportsReturnValue)
{
    std::atomic<int> runs{0};
    TestThread t([&](TestThread& self) -> void* {
        self.ThreadStarted();
        return reinterpret_cast<void*>(static_cast<std::uintptr_t>(++runs));
    });
    EXPECT_EQ(t.Kill(), ERR_JTHREAD_NOTRUNNING);
    EXPECT_EQ(t.GetReturnValue(), nullptr);
    for (int i = 1; i <= 3; ++i) {
        ASSERT_EQ(t.Start(), 0);
        ASSERT_TRUE(WaitUntil([&] { return !t.IsRunning(); }));
        EXPECT_EQ(t.GetReturnValue(), reinterpret_cast<void*>(static_cast<std::uintptr_t>(i)));
        EXPECT_EQ(t.Kill(), ERR_JTHREAD_NOTRUNNING);
    }
}

TEST(JThreadTest, BodyThatNeverCallsThreadStartedDoesNotHangStart)
{
    TestThread t([](TestThread&) -> void* { return nullptr; });
    ASSERT_EQ(t.Start(), 0);
    EXPECT_TRUE(WaitUntil([&] { return !t.IsRunning(); }));
}

TEST(JThreadTest, KillFromInsideTheBody)
{
    std::atomic<bool> sawStop{false};
    TestThread t([&](TestThread& self) -> void* {
        self.ThreadStarted();
        EXPECT_EQ(self.Kill(), 0);
        sawStop = self.IsStopRequested();
        return nullptr;
    });
    ASSERT_EQ(t.Start(), 0);
    EXPECT_TRUE(WaitUntil([&] { return !t.IsRunning(); }));
    EXPECT_TRUE(sawStop.load());
}

TEST(JThreadTest, BaseDestructorStopsAndJoins)
{
    // The derived class here does not Kill() in its destructor; the body only
    // touches the base and state outside the object.
    struct Bare : JThread {
        std::atomic<bool>* finished;
        void* Thread() override
        {
            std::atomic<bool>* done = finished;
            const JThread* base = this; // only the base outlives ~Bare
            ThreadStarted();
            while (!base->IsStopRequested())
                std::this_thread::sleep_for(1ms);
            *done = true;
            return nullptr;
        }
    };
    std::atomic<bool> finished{false};
    auto* t = new Bare;
    t->finished = &finished;
    ASSERT_EQ(t->Start(), 0);
    delete t;
    EXPECT_TRUE(finished.load());
}

TEST(JThreadTest, JMutexStatesAndAutoLock)
{
    JMutex m;
    EXPECT_FALSE(m.IsInitialized());
    EXPECT_EQ(m.Lock(), ERR_JMUTEX_NOTINIT);
    EXPECT_EQ(m.Unlock(), ERR_JMUTEX_NOTINIT);
    EXPECT_EQ(m.Init(), 0);
    EXPECT_TRUE(m.IsInitialized());
    EXPECT_EQ(m.Init(), ERR_JMUTEX_ALREADYINIT);

    long counter = 0; // deliberately not atomic
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                JMutexAutoLock lock(m);
                ++counter;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(counter, 4 * 5000);
    EXPECT_EQ(m.Lock(), 0);
    EXPECT_EQ(m.Unlock(), 0);
}
