// The hidden window's behaviour without a window system: a view that records
// what it is asked, a service control that records the requests, a private
// hive. Builds for both systems.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "database/modDatabase.h"
#include "monitor/modMain.h"
#include "platform/lifecycle.h"
#include "service/SystemTrayForm.h"
#include "settings/errors.h"
#include "settings/registry.h"
#include "support/testenv.h"

using namespace telwick::service;
namespace platform = telwick::platform;

namespace {

struct RecordingView : SystemTrayView {
    std::vector<std::string> calls;
    bool timer = false, iconShown = false, refuseModify = false, listOpen = false;
    int32_t interval = -1;
    void SetTimerInterval(int32_t ms) override { interval = ms; }
    void EnableTimer(bool on) override { timer = on; }
    bool TimerEnabled() const override { return timer; }
    void PrepareIcon(const std::string& tip) override { calls.push_back("prepare " + tip); }
    bool AddIcon() override { return iconShown = true; }
    bool ModifyIcon() override { return iconShown && !refuseModify; }
    void DeleteIcon() override { iconShown = false; }
    void UpdateMenuItem(int index, const MenuItem& item) override {
        calls.push_back("item " + std::to_string(index) + (item.checked ? " checked" : " unchecked"));
    }
    void ShowPopupMenu(int defaultIndex) override { calls.push_back("popup " + std::to_string(defaultIndex)); }
    void HidePopupMenu() override { calls.push_back("hide menu"); }
    void EndEventLoop(int status) override { calls.push_back("end " + std::to_string(status)); }
    void RunLater(std::function<void()> task) override { task(); }
    void OpenConfigurations() override { calls.push_back("configurations"); }
    bool ConfigurationsOpen() const override { return listOpen; }
    void OpenDatabaseSettings() override { calls.push_back("database"); }
};

struct RecordingControl : ServiceControl {
    std::vector<std::string> calls;
    std::string displayName() const override { return DisplayName; }
    void setInteractive(bool) override {}
    void setDebug(bool) override {}
    void setControlsAccepted(int32_t) override {}
    bool Install() override { return true; }
    bool Uninstall() override { return true; }
    void StartService(ServiceRequests*) override { calls.push_back("start"); }
    void StopService() override { calls.push_back("stop"); }
    bool LogEvent(int16_t type, int32_t number, const std::string& text) override {
        calls.push_back(std::to_string(type) + " " + std::to_string(number) + " " + text);
        return true;
    }
};

class TrayForm : public ::testing::Test {
protected:
    telwick::test::ScopedHive hive;
    RecordingView view;
    RecordingControl control;
    SystemTrayForm form{view, control};

    void SetUp() override {
        modDatabase::Reset();
        modMain::Monitors.clear();
        modMain::SetCommandTail("");
    }
    void TearDown() override {
        platform::SetStopRequested(false);
        modMain::ChecksAllowed = false;
    }
};

TEST_F(TrayForm, TheMenuItemsAndTheirStates) {
    const char* captions[] = {"Notify settings...", "Database settings...", "", "Enabled", "", "Exit"};
    for (int i = 0; i < MenuItemCount; ++i) {
        EXPECT_EQ(form.mnuMain(i).caption, captions[i]);
        EXPECT_EQ(form.mnuMain(i).separator, i == mnuSeparator1 || i == mnuSeparator2);
        EXPECT_EQ(form.mnuMain(i).checked, i == mnuEnabled);
        EXPECT_EQ(form.mnuMain(i).isDefault, i == mnuNotifySettings);
    }
    form.mnuMain_Click(mnuEnabled);
    form.mnuMain_Click(mnuEnabled);
    form.mnuMain_Click(mnuNotifySettings);
    form.mnuMain_Click(mnuDatabaseSettings);
    view.timer = true;
    form.mnuMain_Click(mnuExit);
    EXPECT_EQ(view.calls, (std::vector<std::string>{"item 3 unchecked", "item 3 checked", "configurations", "database"}));
    EXPECT_FALSE(view.timer);
    EXPECT_EQ(control.calls, std::vector<std::string>{"stop"});
}

TEST_F(TrayForm, TheIconsMessageNumbers) {
    const struct {
        int messageNr;
        bool listOpen;
        std::vector<std::string> calls;
    } cases[] = {
        {512, false, {}},           {513, false, {"hide menu"}}, {514, false, {"hide menu"}},
        {515, false, {"configurations"}}, {515, true, {}},       {516, false, {"popup 0"}},
        {517, false, {}},           {518, false, {}},            {519, false, {}},
    };
    for (const auto& c : cases) {
        view.calls.clear();
        view.listOpen = c.listOpen;
        form.TrayMessage(c.messageNr);
        EXPECT_EQ(view.calls, c.calls) << c.messageNr;
    }
}

TEST_F(TrayForm, TheStartReadsAndRepairsTheCheckInterval) {
    const struct {
        const char* stored;
        int32_t interval;
        const char* after;
    } cases[] = {{"", 60000, "60000"},   {"0", 60000, "60000"}, {"abc", 60000, "60000"}, {"70000", 60000, "60000"},
                 {"1", 1, "1"},          {"65535", 65535, "65535"}, {" 20x", 20, " 20x"}};
    for (const auto& c : cases) {
        modRegistry::CreateProgramKey();
        modRegistry::SetSetting("Checkinterval", c.stored);
        view = RecordingView{};
        EXPECT_TRUE(form.NTService_Start()) << c.stored;
        EXPECT_EQ(view.interval, c.interval) << c.stored;
        EXPECT_TRUE(view.timer && view.iconShown && modMain::ChecksAllowed) << c.stored;
        EXPECT_EQ(modRegistry::GetSetting("Checkinterval"), c.after);
    }
}

TEST_F(TrayForm, ANegativeIntervalFailsTheStartWithEntry109) {
    modRegistry::CreateProgramKey();
    modRegistry::SetSetting("Checkinterval", "-5");
    EXPECT_FALSE(form.NTService_Start());
    EXPECT_FALSE(view.timer);
    EXPECT_FALSE(modMain::ChecksAllowed);
    EXPECT_EQ(control.calls, std::vector<std::string>{"1 109 [380] Invalid property value"});
}

TEST_F(TrayForm, TheTickKeepsTheIconAndTheTimerAsRequestsLeaveIt) {
    ASSERT_TRUE(form.NTService_Start());
    view.refuseModify = true;
    view.iconShown = false;  // the notification area was re-created
    form.tmrTimer_Timer();
    EXPECT_TRUE(view.iconShown);
    EXPECT_TRUE(view.timer);
    EXPECT_EQ(form.tickCount(), 1);

    form.NTService_Pause();
    EXPECT_FALSE(view.timer);
    form.tmrTimer_Timer();  // a tick that was already due
    EXPECT_FALSE(view.timer);
    form.NTService_Continue();
    EXPECT_TRUE(view.timer);

    form.NTService_Stop();
    EXPECT_FALSE(view.timer);
    EXPECT_TRUE(platform::StopRequested());
    EXPECT_EQ(view.calls.back(), "end 0");
    form.Form_Unload();
    EXPECT_FALSE(view.iconShown);
}

TEST_F(TrayForm, LoadingPreparesTheIconAndHandsOverToTheServiceControl) {
    EXPECT_EQ(form.Form_Load(), -1);
    EXPECT_EQ(view.calls, std::vector<std::string>{"prepare Corvane Monitoring"});
    EXPECT_EQ(control.calls, std::vector<std::string>{"start"});
    EXPECT_FALSE(view.iconShown);
}

}  // namespace
