#include "platform/lifecycle.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace telwick::platform {

namespace {
std::function<void(int)> endHandler;
std::function<void(int)> eventWaiter;
// Written from signal handlers: lock-free atomics only.
std::atomic<bool> stopRequested{false};
std::atomic<bool> pauseRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);
}  // namespace

void EndProgram(int status) {
    if (endHandler) endHandler(status);
    std::fflush(nullptr);
    std::exit(status);
}

void SetEndProgramHandler(std::function<void(int)> handler) { endHandler = std::move(handler); }

bool StopRequested() { return stopRequested.load(); }
void SetStopRequested(bool stop) { stopRequested.store(stop); }
bool PauseRequested() { return pauseRequested.load(); }
void SetPauseRequested(bool pause) { pauseRequested.store(pause); }

void SetEventWaiter(std::function<void(int)> waiter) { eventWaiter = std::move(waiter); }

void WaitHandlingEvents(int milliseconds) {
    if (milliseconds <= 0 || stopRequested) return;
    // Short slices, so that a stop set meanwhile is noticed.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!stopRequested) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        const auto slice = std::min(left, std::chrono::milliseconds(100));
        if (eventWaiter)
            eventWaiter(static_cast<int>(slice.count()));
        else
            std::this_thread::sleep_for(slice);
    }
}

}  // namespace telwick::platform
