// The end of the program, the stop and pause requests and waiting, on
// Windows. As on Linux, but a stop also sets an event, so that a plain wait
// (no event waiter installed) wakes at once rather than at its next slice.
// The flags may be set from any thread (the service manager's requests come
// on the dispatcher's thread).
#include "platform/lifecycle.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace telwick::platform {

namespace {
std::function<void(int)> endHandler;
std::function<void(int)> eventWaiter;
std::atomic<bool> stopRequested{false};
std::atomic<bool> pauseRequested{false};

// Manual reset: set while a stop is asked for.
HANDLE StopEvent() {
    static HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}
}  // namespace

void EndProgram(int status) {
    if (endHandler) endHandler(status);
    std::fflush(nullptr);
    std::exit(status);
}

void SetEndProgramHandler(std::function<void(int)> handler) { endHandler = std::move(handler); }

bool StopRequested() { return stopRequested.load(); }

void SetStopRequested(bool stop) {
    stopRequested.store(stop);
    if (HANDLE event = StopEvent()) {
        if (stop)
            SetEvent(event);
        else
            ResetEvent(event);
    }
}

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
        if (eventWaiter) {
            eventWaiter(static_cast<int>(slice.count()));
        } else if (HANDLE event = StopEvent()) {
            WaitForSingleObject(event, static_cast<DWORD>(slice.count()));
        } else {
            Sleep(static_cast<DWORD>(slice.count()));
        }
    }
}

}  // namespace telwick::platform
