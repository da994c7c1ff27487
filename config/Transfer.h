#pragma once
// Transfer mechanics of the download routine that need no system calls.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

// Share of Size that has arrived while Remaining bytes are still due, as a
// percentage rounded to the nearest integer, halves to the even neighbour.
int ProgressPercent(uint32_t Size, uint32_t Remaining);

// Runs blocking calls one after another on a helper thread, so that the caller
// can stop waiting for a call that never returns (a network peer that accepts
// and then stays silent). Everything a job touches must be owned by the job
// itself (captured by value or shared pointer): a job given up on keeps running.
class TBoundedWorker {
public:
    // Cleanup releases what the jobs share. It runs exactly once: on the
    // destroying thread, or, when a job was given up on, on the helper thread
    // as soon as that job has returned.
    explicit TBoundedWorker(std::function<void()> Cleanup);
    ~TBoundedWorker();
    TBoundedWorker(const TBoundedWorker&) = delete;
    TBoundedWorker& operator=(const TBoundedWorker&) = delete;

    // Runs Job and waits at most Timeout for it. False when the wait ran out:
    // the worker is then given up, and every later Run returns false at once
    // without running its job.
    bool Run(std::function<void()> Job, std::chrono::milliseconds Timeout);
    bool GivenUp() const;

private:
    struct TShared;
    std::shared_ptr<TShared> FShared;
    std::thread FThread;
};
