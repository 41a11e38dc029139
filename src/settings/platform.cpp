#include "platform.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

namespace telwick::platform {

namespace {
ConsoleMessageBox consoleHost;
MessageBoxHost* installedHost = nullptr;
std::function<void(int)> endHandler;
bool stopRequested = false;
}  // namespace

Answer ConsoleMessageBox::Show(const std::string& text, const std::string& title, Buttons buttons) {
    std::cerr << '[' << title << "] " << text << std::endl;
    return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
}

MessageBoxHost& MessageBoxes() { return installedHost ? *installedHost : consoleHost; }

void SetMessageBoxHost(MessageBoxHost* host) { installedHost = host; }

Answer ShowMessage(const std::string& text, const std::string& title, Buttons buttons) {
    return MessageBoxes().Show(text, title, buttons);
}

bool HasDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

void EndProgram(int status) {
    if (endHandler) endHandler(status);
    std::fflush(nullptr);
    std::exit(status);
}

void SetEndProgramHandler(std::function<void(int)> handler) { endHandler = std::move(handler); }

bool StopRequested() { return stopRequested; }
void SetStopRequested(bool stop) { stopRequested = stop; }

void WaitHandlingEvents(int milliseconds) {
    if (milliseconds <= 0 || stopRequested) return;
    if (!QCoreApplication::instance()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return;
    }
    // Wake up now and then to notice a stop that a handler inside this wait set.
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired() && !stopRequested) {
        QEventLoop loop;
        QTimer::singleShot(std::min<qint64>(deadline.remainingTime(), 100), &loop, &QEventLoop::quit);
        loop.exec();
    }
}

}  // namespace telwick::platform
