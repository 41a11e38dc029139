// The end of the program, the stop request, and waiting while the events of
// the thread are still handled.
#pragma once

#include <functional>

namespace telwick::platform {

// Ends the program at once with the given status. The service installs a handler
// that releases its window first; tests install one that throws.
[[noreturn]] void EndProgram(int status);
void SetEndProgramHandler(std::function<void(int)> handler);  // must not return normally

// A stop has been asked for (signal, menu "Exit"): long waits give up, and no
// further checks start.
bool StopRequested();
void SetStopRequested(bool stop);

// Waits about the given milliseconds; returns early when a stop is asked for.
// With an event waiter installed (the service installs the Qt one) the events
// of the thread, service requests among them, are handled meanwhile; without
// one it is a plain sleep that still notices a stop.
void WaitHandlingEvents(int milliseconds);

// Installs the function that waits a short slice (at most 100 ms) while
// handling events. An empty function restores the plain sleep.
void SetEventWaiter(std::function<void(int)> waiter);

}  // namespace telwick::platform
