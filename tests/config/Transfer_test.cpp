#include "config/Transfer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

TEST(Transfer, ProgressIsTheShareBeforeTheReadRoundedHalfToEven) {
    EXPECT_EQ(ProgressPercent(4096, 4096), 0);
    EXPECT_EQ(ProgressPercent(4096, 2048), 50);
    EXPECT_EQ(ProgressPercent(1, 1), 0);
    EXPECT_EQ(ProgressPercent(3, 1), 67);
    // Exact halves go to the even neighbour.
    EXPECT_EQ(ProgressPercent(8, 7), 12);     // 12.5
    EXPECT_EQ(ProgressPercent(8, 5), 38);     // 37.5
    EXPECT_EQ(ProgressPercent(200, 199), 0);  // 0.5
    EXPECT_EQ(ProgressPercent(200, 197), 2);  // 1.5
    EXPECT_EQ(ProgressPercent(8, 0), 100);
    // Sizes near the 32-bit limit do not overflow.
    EXPECT_EQ(ProgressPercent(0xFFFFFFFFu, 1), 100);
    EXPECT_EQ(ProgressPercent(0xFFFFFFFFu, 0x7FFFFFFFu), 50);
}

TEST(Transfer, WorkerRunsJobsInOrderAndCleansUpOnceOnTheCallersThread) {
    auto log = std::make_shared<std::vector<int>>();
    std::thread::id cleanupThread;
    int cleanups = 0;
    {
        TBoundedWorker worker([&] {
            ++cleanups;
            cleanupThread = std::this_thread::get_id();
        });
        for (int i = 0; i < 5; ++i) EXPECT_TRUE(worker.Run([log, i] { log->push_back(i); }, 5s));
        EXPECT_FALSE(worker.GivenUp());
        EXPECT_EQ(cleanups, 0);
    }
    EXPECT_EQ(*log, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(cleanups, 1);
    EXPECT_EQ(cleanupThread, std::this_thread::get_id());
}

TEST(Transfer, WorkerGivesUpOnAHungJobAndTheHelperCleansUpWhenItReturns) {
    auto release = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = release->get_future().share();
    auto cleaned = std::make_shared<std::promise<std::thread::id>>();
    std::future<std::thread::id> cleanedOn = cleaned->get_future();
    auto laterJobRan = std::make_shared<std::atomic<bool>>(false);
    std::thread::id jobThread;
    {
        TBoundedWorker worker([cleaned] { cleaned->set_value(std::this_thread::get_id()); });
        EXPECT_TRUE(worker.Run([&jobThread] { jobThread = std::this_thread::get_id(); }, 5s));
        auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(worker.Run([released] { released.wait(); }, 100ms));
        auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_GE(waited, 100ms);
        EXPECT_LT(waited, 3s);
        EXPECT_TRUE(worker.GivenUp());
        // Given up: later jobs are not run, and the caller does not wait.
        EXPECT_FALSE(worker.Run([laterJobRan] { *laterJobRan = true; }, 5s));
    }
    // The worker is gone; the hung job still holds what it needs.
    EXPECT_EQ(cleanedOn.wait_for(200ms), std::future_status::timeout);
    release->set_value();
    ASSERT_EQ(cleanedOn.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(cleanedOn.get(), jobThread);
    EXPECT_FALSE(*laterJobRan);
}
