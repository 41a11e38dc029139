#include "platform/lifecycle.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace telwick::platform {

namespace {
std::function<void(int)> endHandler;
std::function<void(int)> eventWaiter;
bool stopRequested = false;
}  // namespace

void EndProgram(int status) {
    if (endHandler) endHandler(status);
    std::fflush(nullptr);
    std::exit(status);
}

void SetEndProgramHandler(std::function<void(int)> handler) { endHandler = std::move(handler); }

bool StopRequested() { return stopRequested; }
void SetStopRequested(bool stop) { stopRequested = stop; }

void SetEventWaiter(std::function<void(int)> waiter) { eventWaiter = std::move(waiter); }

void WaitHandlingEvents(int milliseconds) {
    if (milliseconds <= 0 || stopRequested) return;
    // Short slices, so that a stop set meanwhile is noticed.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!stopRequested) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        const auto slice = std::min(left, std::chrono::milliseconds(100));
        if (eventWaiter)
            eventWaiter(static_cast<int>(slice.count()));
        else
            std::this_thread::sleep_for(slice);
    }
}

}  // namespace telwick::platform
