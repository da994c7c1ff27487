#include "config/Transfer.h"

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>

namespace {

// A download hands the helper a job every 2,048 bytes. Sleeping on the
// condition variable costs round trips to the Wine server on both sides, more
// than the read itself, so each side first watches the flag for a short while.
constexpr std::chrono::microseconds SpinTime(500);

void SpinUntil(const std::atomic<bool>& Flag) {
    const auto until = std::chrono::steady_clock::now() + SpinTime;
    while (!Flag.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < until) std::this_thread::yield();
}

}  // namespace

int ProgressPercent(uint32_t Size, uint32_t Remaining) {
    if (Size == 0 || Remaining >= Size) return 0;
    double exact = static_cast<double>(Size - Remaining) / Size * 100.0;
    double whole = std::floor(exact);
    double rest = exact - whole;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
    return static_cast<int>(whole);
}

struct TBoundedWorker::TShared {
    std::mutex Lock;
    std::condition_variable Changed;
    std::function<void()> Job;
    std::function<void()> Cleanup;
    // Written under Lock; read without it only to decide whether to sleep yet.
    std::atomic<bool> HasJob{false};
    std::atomic<bool> Done{false};
    bool Stop = false;
    bool GivenUp = false;
};

TBoundedWorker::TBoundedWorker(std::function<void()> Cleanup) : FShared(std::make_shared<TShared>()) {
    FShared->Cleanup = std::move(Cleanup);
    FThread = std::thread([shared = FShared] {
        for (;;) {
            std::function<void()> job;
            SpinUntil(shared->HasJob);
            {
                std::unique_lock<std::mutex> lock(shared->Lock);
                shared->Changed.wait(lock, [&] { return shared->HasJob.load() || shared->Stop; });
                if (shared->Stop) return;
                job = std::move(shared->Job);
                shared->HasJob = false;
            }
            job();
            std::function<void()> cleanup;
            {
                std::lock_guard<std::mutex> lock(shared->Lock);
                if (!shared->GivenUp) {
                    shared->Done = true;
                    shared->Changed.notify_all();
                    continue;
                }
                cleanup = std::move(shared->Cleanup);
            }
            // Nobody waits any more: release what the jobs shared, then end.
            if (cleanup) cleanup();
            return;
        }
    });
}

TBoundedWorker::~TBoundedWorker() {
    std::function<void()> cleanup;
    {
        std::lock_guard<std::mutex> lock(FShared->Lock);
        if (!FShared->GivenUp) {
            FShared->Stop = true;
            cleanup = std::move(FShared->Cleanup);
        }
        FShared->Changed.notify_all();
    }
    if (cleanup) {
        FThread.join();
        cleanup();
    } else {
        // The helper is still inside a job; it cleans up when that returns.
        FThread.detach();
    }
}

bool TBoundedWorker::Run(std::function<void()> Job, std::chrono::milliseconds Timeout) {
    std::unique_lock<std::mutex> lock(FShared->Lock);
    if (FShared->GivenUp) return false;
    FShared->Job = std::move(Job);
    FShared->HasJob = true;
    FShared->Done = false;
    FShared->Changed.notify_all();
    lock.unlock();
    SpinUntil(FShared->Done);
    lock.lock();
    if (FShared->Changed.wait_for(lock, Timeout, [&] { return FShared->Done.load(); })) return true;
    FShared->GivenUp = true;
    return false;
}

bool TBoundedWorker::GivenUp() const {
    std::lock_guard<std::mutex> lock(FShared->Lock);
    return FShared->GivenUp;
}
