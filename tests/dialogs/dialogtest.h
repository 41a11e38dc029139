// What the widget tests of the dialogs share: the application object, a fresh
// hive and SQLite database with demo data per test, a message box host that
// answers as told, and a driver for modal windows.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/messagebox.h"
#include "support/process.h"
#include "support/testdb.h"
#include "support/testenv.h"

namespace telwick::test {

// Answers every message box from a list (Yes when the list is used up) and
// remembers what was asked.
class ScriptedMessageBoxes : public platform::MessageBoxHost {
public:
    struct Asked {
        std::string text, title;
        platform::Buttons buttons;
    };
    platform::Answer Show(const std::string& text, const std::string& title, platform::Buttons buttons) override;
    std::deque<platform::Answer> answers;
    std::vector<Asked> asked;
};

// Acts on modal windows as they come up, one step for each: a step waits until
// the active modal window is of the named class, then runs. Polls the event
// loop of whatever modal window is running, so it needs no timing.
class ModalDriver {
public:
    ModalDriver();
    ~ModalDriver();
    void Then(const char* className, std::function<void(QWidget*)> action);
    bool done() const { return steps_.empty(); }
    size_t pending() const { return steps_.size(); }

private:
    void Poll();
    struct Step {
        std::string className;
        std::function<void(QWidget*)> action;
    };
    std::deque<Step> steps_;
    QTimer timer_;
    QPointer<QWidget> last_;
};

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The configurations "config0", ... as given, then the monitors loaded.
    void StoreConfigurations(const std::vector<std::string>& records);
    static std::string Setting(const std::string& name);

    TestDatabase& db() { return *db_; }
    ScriptedMessageBoxes boxes;

private:
    std::unique_ptr<ScopedHive> hive_;
    std::unique_ptr<TestDatabase> db_;
};

// A child of a window by object name; fails the test when it is missing.
template <class T>
T* Child(QWidget* window, const char* name) {
    T* child = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << "no " << name;
    return child;
}

}  // namespace telwick::test
