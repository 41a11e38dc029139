// Waiting inside the one thread of a Qt program while its events are handled.
#pragma once

namespace telwick::platform::qt {

// Makes WaitHandlingEvents run a local event loop (service requests, timers
// and window events go on) while it waits.
// Call it once the application object exists; RemoveEventWaiter undoes it.
void InstallEventWaiter();
void RemoveEventWaiter();

}  // namespace telwick::platform::qt
