#include "platform/qt/QtEventWaiter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include "platform/lifecycle.h"

namespace telwick::platform::qt {

namespace {

void WaitInEventLoop(int milliseconds) {
    if (!QCoreApplication::instance()) {
        QThread::msleep(static_cast<unsigned long>(milliseconds));
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

void InstallEventWaiter() { SetEventWaiter(WaitInEventLoop); }
void RemoveEventWaiter() { SetEventWaiter({}); }

}  // namespace telwick::platform::qt
