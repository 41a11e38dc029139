#include "dialogs/dialogtest.h"

#include <QApplication>

#include "database/modDatabase.h"
#include "monitor/modMain.h"
#include "platform/lifecycle.h"
#include "platform/messagebox.h"
#include "settings/crypt.h"
#include "settings/registry.h"
#include "settings/settings.h"

namespace telwick::test {

platform::Answer ScriptedMessageBoxes::Show(const std::string& text, const std::string& title,
                                            platform::Buttons buttons) {
    asked.push_back({text, title, buttons});
    if (buttons == platform::Buttons::Ok) return platform::Answer::Ok;
    if (answers.empty()) return platform::Answer::Yes;
    platform::Answer a = answers.front();
    answers.pop_front();
    return a;
}

ModalDriver::ModalDriver() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
}

ModalDriver::~ModalDriver() { timer_.stop(); }

void ModalDriver::Then(const char* className, std::function<void(QWidget*)> action) {
    steps_.push_back({className, std::move(action)});
    timer_.start();
}

void ModalDriver::Poll() {
    if (steps_.empty()) {
        timer_.stop();
        return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    // a window that a step has acted on may still be closing
    if (!modal || modal == last_ || !modal->isVisible() ||
        steps_.front().className != modal->metaObject()->className())
        return;
    Step step = std::move(steps_.front());
    steps_.pop_front();
    last_ = modal;
    step.action(modal);
}

void DialogTest::SetUp() {
    hive_ = std::make_unique<ScopedHive>();
    modDatabase::Reset();
    // a load on the empty hive: nothing left waiting from an earlier test
    modMain::LoadMonitorings();
    modMain::ChecksAllowed = true;
    modSettings::ResetLanguageCache();
    modCrypt::SetPassphrase();
    platform::SetMessageBoxHost(&boxes);
    platform::SetEndProgramHandler([](int status) { throw ProgramEnded{status}; });
    db_ = std::make_unique<TestDatabase>(DbKind::Sqlite);
}

void DialogTest::TearDown() {
    modMain::Monitors.clear();
    modDatabase::Reset();
    db_.reset();
    platform::SetMessageBoxHost(nullptr);
    platform::SetEndProgramHandler(nullptr);
    modSettings::ResetLanguageCache();
    hive_.reset();
}

void DialogTest::StoreConfigurations(const std::vector<std::string>& records) {
    modRegistry::CreateProgramKey();
    for (size_t i = 0; i < records.size(); ++i) modRegistry::SetSetting("config" + std::to_string(i), records[i]);
    modMain::LoadMonitorings();
}

std::string DialogTest::Setting(const std::string& name) { return modRegistry::GetSetting(name); }

}  // namespace telwick::test
