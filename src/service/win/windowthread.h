// The window thread of telwick.exe: the one thread that owns the hidden window
// and runs its message loop. Everything the program does happens there, one
// window message at a time: the service requests, the check timer, the tray
// icon and its menu, the dialogs and the message boxes. Other threads (the
// service control manager's handler) only post work to it.
#pragma once

#include <windows.h>

#include <functional>

namespace telwick::service::win {

// Creates the hidden window (a real top-level window that is never shown, so
// that it receives broadcasts such as "TaskbarCreated" and may be brought to
// the foreground for the tray menu) on the calling thread, which from then on
// is the window thread. Call it once, on the thread that then calls
// RunMessageLoop. False when the window cannot be created (GetLastError says
// why); nothing may be posted then.
bool CreateHiddenWindow();

// The hidden window: nullptr before CreateHiddenWindow and after the loop ended.
HWND HiddenWindow();
// True on the window thread.
bool OnWindowThread();

// Runs fn on the window thread as one window message, after the messages
// already waiting, in the order posted. Callable from any thread, the window
// thread too (fn then runs later, never inside this call). While a message box
// or a dialog is open the function still runs: their modal loops dispatch it.
// False when there is no window (not created yet, or the loop has ended): fn
// is dropped without running.
bool PostToWindowThread(std::function<void()> fn);

// The hidden window's other messages (timer, tray notifications, menu
// commands, "TaskbarCreated", the end of the session) go to this handler on the
// window thread: it returns true when it handled the message and sets result;
// false hands the message to DefWindowProcW. An empty handler handles nothing.
using MessageHandler = std::function<bool(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)>;
void SetMessageHandler(MessageHandler handler);

// Runs the message loop on the window thread until EndMessageLoop, and
// returns the status given there. At the end the hidden window is destroyed;
// functions posted and not yet run are dropped.
int RunMessageLoop();

// Ends the message loop with the status; callable from any thread. Modal loops
// that run at that moment (a message box, a dialog, a wait that serves
// messages) end first: Windows' modal loops close on the quit message and hand
// it on, so the stop is never held up by a box nobody answers.
void EndMessageLoop(int status);

// Makes platform::WaitHandlingEvents serve the window thread's messages while
// it waits (the reconnect back-off of the data layer): service requests, the
// tray menu and posted functions go on meanwhile. A quit message met while
// waiting is kept for the loop it belongs to, and the wait then sleeps out its
// slice. Call on the window thread; RemoveMessagePumpWaiter restores the plain
// sleep.
void InstallMessagePumpWaiter();
void RemoveMessagePumpWaiter();

}  // namespace telwick::service::win
