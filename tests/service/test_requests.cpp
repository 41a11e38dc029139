// The hidden window at work in this process, as the program runs it: its own
// hive, a SQLite database, a syslog socket, real signals as requests, and Qt
// message boxes (offscreen) that the test answers.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <functional>

#include "database/modDatabase.h"
#include "monitor/modMain.h"
#include "platform/lifecycle.h"
#include "platform/messagebox.h"
#include "platform/qt/QtMessageBox.h"
#include "service/qt/frmSystemTray.h"
#include "settings/errors.h"
#include "settings/registry.h"
#include "settings/settings.h"
#include "support/testdb.h"
#include "support/testenv.h"

namespace platform = telwick::platform;
using namespace telwick::test;

class ServiceAtWork : public ::testing::Test {
protected:
    ScopedHive hive;
    SyslogReceiver syslog;
    std::unique_ptr<TestDatabase> db;
    telwick::platform::qt::QtMessageBox boxes;
    std::unique_ptr<frmSystemTray> form;
    std::vector<std::string> entries;  // the texts of the 110 entries, in order
    // Called every few milliseconds while a message box is up; clicks OK unless
    // the test says otherwise.
    std::function<void(QMessageBox*)> onBox = [](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); };
    QTimer boxWatch;

    void SetUp() override {
        modDatabase::Reset();
        modSettings::ResetLanguageCache();
        db = std::make_unique<TestDatabase>(DbKind::Sqlite);
        modRegistry::CreateProgramKey();
        modRegistry::SetSetting("Checkinterval", "20");
        // Computer 3, any type and level: message box and event-log entry.
        modRegistry::SetSetting("config0", "3;;;1;1;0;;");
        modMain::SetCommandTail("");
        platform::SetMessageBoxHost(&boxes);
        form = std::make_unique<frmSystemTray>();
        QObject::connect(&boxWatch, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) onBox(box);
        });
        boxWatch.start(10);
    }

    void TearDown() override {
        boxWatch.stop();
        form.reset();
        platform::SetMessageBoxHost(nullptr);
        platform::SetStopRequested(false);
        modMain::Monitors.clear();
        modMain::ChecksAllowed = false;
        modDatabase::Reset();
    }

    // Runs the body inside the event loop, as main() runs the window; returns
    // the loop's status (-99 when nothing stopped the service).
    int Run(const std::function<void()>& body) {
        QTimer::singleShot(0, [&] {
            EXPECT_EQ(form->Form_Load(), -1);
            if (WaitUntil([&] { return form->running(); })) body();
            if (!platform::StopRequested()) QCoreApplication::exit(-99);
        });
        const int status = QCoreApplication::exec();
        form->Form_Unload();
        Collect();
        return status;
    }

    void Collect() {
        for (const auto& d : syslog.Drain(std::chrono::milliseconds(0)))
            if (SyslogReceiver::MsgIdOf(d) == "110") entries.push_back(SyslogReceiver::MessageOf(d));
    }

    bool WaitUntil(const std::function<bool()>& done, int ms = 20000) {
        QDeadlineTimer deadline(ms);
        while (!done()) {
            if (deadline.hasExpired()) return false;
            QTest::qWait(5);
            Collect();
        }
        return true;
    }

    void AddDiskEvents(std::initializer_list<const char*> drives) {
        for (const char* drive : drives) db->AddEvent(3, 1, 5, 1, std::string(drive) + ";90");
    }
    static std::string Disk(const char* drive) { return std::string("Disk ") + drive + " is 90% full"; }
    bool Stopped() { return platform::StopRequested() && !form->inTick(); }
};

TEST_F(ServiceAtWork, EnabledOffHoldsTheChecksAndOnReportsWhatCameMeanwhile) {
    modRegistry::SetSetting("config0", "3;;;0;1;0;;");
    const int status = Run([&] {
        AddDiskEvents({"A:"});
        ASSERT_TRUE(WaitUntil([&] { return entries.size() == 1; }));
        form->mnuMain(frmSystemTray::mnuEnabled)->trigger();
        AddDiskEvents({"B:"});
        const int ticks = form->tickCount();
        ASSERT_TRUE(WaitUntil([&] { return form->tickCount() >= ticks + 3; }));
        EXPECT_EQ(entries.size(), 1u);
        form->mnuMain(frmSystemTray::mnuEnabled)->trigger();
        ASSERT_TRUE(WaitUntil([&] { return entries.size() == 2; }));
        form->mnuMain(frmSystemTray::mnuExit)->trigger();
        EXPECT_FALSE(form->tmrTimer().isActive());
        ASSERT_TRUE(WaitUntil([&] { return Stopped(); }));
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(entries, (std::vector<std::string>{Disk("A:"), Disk("B:")}));
    EXPECT_TRUE(modMain::Monitors.empty());
}

TEST_F(ServiceAtWork, AStopWhileAMessageBoxWaitsEndsTheProgramWithoutFurtherChecks) {
    bool stopSent = false;
    onBox = [&](QMessageBox*) {
        if (!stopSent) raise(SIGTERM);
        stopSent = true;
    };
    const int status = Run([&] {
        AddDiskEvents({"A:", "B:", "C:"});
        ASSERT_TRUE(WaitUntil([&] { return Stopped(); }));
    });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(form->tmrTimer().isActive());
    EXPECT_EQ(entries, std::vector<std::string>{Disk("A:")});
}

TEST_F(ServiceAtWork, APauseWhileAMessageBoxWaitsHoldsUntilTheContinue) {
    bool pauseSent = false, continued = false;
    onBox = [&](QMessageBox* box) {
        if (!pauseSent) {
            raise(SIGTSTP);
            pauseSent = true;
        } else if (form->paused() || continued) {
            box->button(QMessageBox::Ok)->click();
        }
    };
    const int status = Run([&] {
        AddDiskEvents({"A:", "B:", "C:"});
        ASSERT_TRUE(WaitUntil([&] { return form->paused() && !form->inTick(); }));
        EXPECT_FALSE(form->tmrTimer().isActive());
        const int ticks = form->tickCount();
        QTest::qWait(200);
        Collect();
        EXPECT_EQ(form->tickCount(), ticks);
        EXPECT_EQ(entries, std::vector<std::string>{Disk("A:")});

        continued = true;
        raise(SIGCONT);
        ASSERT_TRUE(WaitUntil([&] { return entries.size() == 3; }));
        raise(SIGTERM);
        ASSERT_TRUE(WaitUntil([&] { return Stopped(); }));
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(entries, (std::vector<std::string>{Disk("A:"), Disk("B:"), Disk("C:")}));
}

TEST_F(ServiceAtWork, TheListAskedForWhileAMessageBoxWaitsOpensAfterTheTick) {
    int opened = 0, openedWhileBoxUp = -1;
    size_t rowsBeforeOpen = 0;
    form->setDialogs({[&] {
                          ++opened;
                          Collect();
                          rowsBeforeOpen = entries.size();
                      },
                      [] { return false; }, [] {}});
    onBox = [&](QMessageBox* box) {
        if (openedWhileBoxUp < 0) {
            form->TrayMessage(frmSystemTray::WM_LBUTTONDBLCLK);
            openedWhileBoxUp = opened;
        }
        box->button(QMessageBox::Ok)->click();
    };
    const int status = Run([&] {
        AddDiskEvents({"A:", "B:", "C:"});
        ASSERT_TRUE(WaitUntil([&] { return opened == 1; }));
        ASSERT_TRUE(WaitUntil([&] { return entries.size() == 3; }));
        form->mnuMain(frmSystemTray::mnuExit)->trigger();
        ASSERT_TRUE(WaitUntil([&] { return Stopped(); }));
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(openedWhileBoxUp, 0);
    EXPECT_EQ(rowsBeforeOpen, 1u);  // the check stopped before its next row
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(entries, (std::vector<std::string>{Disk("A:"), Disk("B:"), Disk("C:")}));
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
