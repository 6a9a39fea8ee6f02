// Tests of critical sections, thread ids and interlocked operations.
#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

TEST(SyncTest, CriticalSectionIsReentrant)
{
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs); // the same thread again: no deadlock
    EXPECT_TRUE(TryEnterCriticalSection(&cs));

    auto tryFromOtherThread = [&cs] {
        BOOL got = FALSE;
        std::thread([&] {
            got = TryEnterCriticalSection(&cs);
            if (got)
                LeaveCriticalSection(&cs);
        }).join();
        return got;
    };
    EXPECT_FALSE(tryFromOtherThread());
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    EXPECT_FALSE(tryFromOtherThread()) << "still held once";
    LeaveCriticalSection(&cs);
    EXPECT_TRUE(tryFromOtherThread());
    DeleteCriticalSection(&cs);
}

TEST(SyncTest, CriticalSectionExcludesOtherThreads)
{
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    long counter = 0; // deliberately not atomic
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                qelm::CsLock lock(&cs);
                qelm::CsLock again(cs);
                if (inside.fetch_add(1) != 0)
                    ++overlaps;
                ++counter;
                inside.fetch_sub(1);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(counter, 6 * 5000);
    EXPECT_EQ(overlaps.load(), 0);
    DeleteCriticalSection(&cs);
}

TEST(SyncTest, ThreadIdsAreSmallStableAndDistinct)
{
    DWORD mine = GetCurrentThreadId();
    EXPECT_NE(mine, 0u);
    EXPECT_EQ(GetCurrentThreadId(), mine);
    std::vector<DWORD> ids(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < ids.size(); ++i)
        threads.emplace_back([&ids, i] { ids[i] = GetCurrentThreadId(); });
    for (auto& th : threads)
        th.join();
    std::set<DWORD> distinct(ids.begin(), ids.end());
    distinct.insert(mine);
    EXPECT_EQ(distinct.size(), ids.size() + 1);
    EXPECT_EQ(distinct.count(0u), 0u);
    EXPECT_LT(*distinct.rbegin(), 1000000u);
}

TEST(SyncTest, Interlocked)
{
    volatile LONG v = 5;
    EXPECT_EQ(InterlockedIncrement(&v), 6);
    EXPECT_EQ(InterlockedDecrement(&v), 5);
    EXPECT_EQ(InterlockedExchange(&v, 42), 5);
    EXPECT_EQ(v, 42);
    EXPECT_EQ(InterlockedCompareExchange(&v, 7, 41), 42);
    EXPECT_EQ(v, 42) << "no exchange when the comparand differs";
    EXPECT_EQ(InterlockedCompareExchange(&v, 7, 42), 42);
    EXPECT_EQ(v, 7);
    EXPECT_EQ(InterlockedExchangeAdd(&v, 3), 7);
    EXPECT_EQ(v, 10);

    volatile LONG shared = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&shared] {
            for (int i = 0; i < 10000; ++i) {
                InterlockedIncrement(&shared);
                InterlockedIncrement(&shared);
                InterlockedDecrement(&shared);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(shared, 4 * 10000);
}

TEST(SyncTest, SleepWaitsAtLeastTheTime)
{
    auto start = std::chrono::steady_clock::now();
    Sleep(20);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
    Sleep(0);
}
