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
// further checks start. Both flags may be set from a signal handler: the
// handler marks the request at once, a check looks at it before each row, and
// the event loop carries the request out once the check has returned.
bool StopRequested();
void SetStopRequested(bool stop);
// A pause has come by signal and no continue since: a running check ends
// before its next row.
bool PauseRequested();
void SetPauseRequested(bool pause);

// Waits about the given milliseconds; returns early when a stop is asked for.
// With an event waiter installed (the service installs the Qt one) the events
// of the thread, service requests among them, are handled meanwhile; without
// one it is a plain sleep that still notices a stop.
void WaitHandlingEvents(int milliseconds);

// Installs the function that waits a short slice (at most 100 ms) while
// handling events. An empty function restores the plain sleep.
void SetEventWaiter(std::function<void(int)> waiter);

}  // namespace telwick::platform
