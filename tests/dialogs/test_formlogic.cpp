// The three dialogs' behaviour without a window system: plain data in and out
// over a private hive and a real SQLite database with the demo data. Builds
// for both systems.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "database/modDatabase.h"
#include "dialogs/ConfigurationForm.h"
#include "dialogs/ConfigurationsForm.h"
#include "dialogs/DatabaseForm.h"
#include "monitor/modMain.h"
#include "platform/messagebox.h"
#include "settings/crypt.h"
#include "settings/registry.h"
#include "settings/settings.h"
#include "support/testdb.h"

using namespace telwick::dialogs;
using namespace telwick::test;
namespace platform = telwick::platform;

namespace {

struct Answers : platform::MessageBoxHost {
    std::deque<platform::Answer> answers;
    std::vector<std::string> asked;
    platform::Answer Show(const std::string& text, const std::string& title, platform::Buttons) override {
        asked.push_back("[" + title + "] " + text);
        if (answers.empty()) return platform::Answer::Yes;
        const platform::Answer a = answers.front();
        answers.pop_front();
        return a;
    }
};

// The list's view: keeps the row count it was told of, and answers the
// editor with a function of the record it was handed.
struct ListView : ConfigurationsView {
    size_t rows = 0;
    std::vector<std::string> handed;
    std::function<std::string(const std::string&)> editor = [](const std::string&) { return std::string(); };
    void RowAdded(size_t index) override { EXPECT_EQ(index, rows++); }
    void RowChanged(size_t index) override { EXPECT_LT(index, rows); }
    void RowRemoved(size_t index) override { EXPECT_LT(index, rows--); }
    std::string EditRecord(const std::string& record) override {
        handed.push_back(record);
        return editor(record);
    }
};

class FormLogic : public ::testing::Test {
protected:
    ScopedHive hive;
    Answers boxes;
    std::unique_ptr<TestDatabase> db;

    void SetUp() override {
        modDatabase::Reset();
        // a load on the empty hive: nothing left waiting from an earlier test
        modMain::LoadMonitorings();
        modMain::ChecksAllowed = true;
        modSettings::ResetLanguageCache();
        modCrypt::SetPassphrase();
        platform::SetMessageBoxHost(&boxes);
        db = std::make_unique<TestDatabase>(DbKind::Sqlite);
    }
    void TearDown() override {
        modMain::Monitors.clear();
        modDatabase::Reset();
        db.reset();
        platform::SetMessageBoxHost(nullptr);
    }
    static void Store(const std::vector<std::string>& records) {
        modRegistry::CreateProgramKey();
        for (size_t i = 0; i < records.size(); ++i) modRegistry::SetSetting("config" + std::to_string(i), records[i]);
        modMain::LoadMonitorings();
    }
    static std::vector<std::string> Stored() {
        std::vector<std::string> records;
        for (int i = 0;; ++i) {
            std::string r = modRegistry::GetSetting("config" + std::to_string(i));
            if (r.empty()) return records;
            records.push_back(r);
        }
    }
};

const std::vector<std::string> FiveRecords = {
    "1;2;3;1;0;0;;", "4;;5;0;1;0;;", ";;;1;1;1;C:\\jobs\\a[trdoppu]b.cmd;", "99;42;43;0;0;1;;",
    "3;1;;0;1;1;/opt/jobs/on-event.sh;",
};

TEST_F(FormLogic, TheEditorHandsBackWhatOkBuildsFromTheRecordShown) {
    const struct {
        const char* given;
        const char* back;  // after OK without a change
    } cases[] = {
        {"", ";;;1;0;0;;"},  // Add: open filters, message box only
        {"5;3;4;0;1;1;C:\\jobs\\a[trdoppu]b.cmd;", "5;3;4;0;1;1;C:\\jobs\\a[trdoppu]b.cmd;"},
        {"99;42;43;2;0;1;x;", ";;;2;0;1;x;"},  // names gone: open filters; greyed stays greyed
        {"1;2;3;7;0;;", "1;2;3;1;0;0;;"},       // a value outside 0 to 2 leaves the box as it was
        {"1;2;3;1;0;0;99999999999;", "1;2;3;1;0;0;99999999999;"},
    };
    for (const auto& c : cases) {
        ConfigurationForm form(c.given);
        form.Form_Load();
        EXPECT_EQ(form.record(), c.given) << "the close box hands back what it was given";
        ASSERT_TRUE(form.OKButton_Click(form.fields())) << c.given;
        EXPECT_EQ(form.record(), c.back) << c.given;
        form.CancelButton_Click();
        EXPECT_EQ(form.record(), "");
    }
}

TEST_F(FormLogic, TheEditorsCombosAndWhatItsControlsAccept) {
    ConfigurationForm form("");
    form.Form_Load();
    // status 0 is not offered; computers by name, types by name, levels by number
    std::vector<std::string> keys;
    for (const ComboItem& item : form.items(cboComputer)) keys.push_back(item.key);
    EXPECT_EQ(keys, (std::vector<std::string>{"COM1", "COM5", "COM2", "COM3"}));
    EXPECT_EQ(form.items(cboComputer)[0].text, "FILESERVER (CORVANE)");
    EXPECT_EQ(form.items(cboEventType).front().key, "EVT2");
    EXPECT_EQ(form.items(cboEventLevel).front().key, "EVL1");
    EXPECT_EQ(form.IndexOfKey(cboComputer, "COM"), -1);

    ConfigurationFields shown = form.fields();
    shown.selected = {form.IndexOfKey(cboComputer, "COM2"), -1, form.IndexOfKey(cboEventLevel, "EVL5")};
    shown.checks = {0, 1, 0};
    shown.batchFile = "/opt/a;b.sh";  // kept even with "Run batch:" off
    ASSERT_TRUE(form.OKButton_Click(shown));
    EXPECT_EQ(form.record(), "2;;5;0;1;0;/opt/a[trdoppu]b.sh;");

    EXPECT_FALSE(ConfigurationForm::BatchEnabled(0));
    EXPECT_TRUE(ConfigurationForm::BatchEnabled(1));
    EXPECT_FALSE(ConfigurationForm::BatchEnabled(2));
    EXPECT_EQ(ConfigurationForm::BrowseResult("/old.sh", ""), "/old.sh");
    EXPECT_EQ(ConfigurationForm::BrowseResult("/old.sh", "/new.sh"), "/new.sh");
}

TEST_F(FormLogic, TheListShowsTheMonitorsAndSavesItsRows) {
    Store(FiveRecords);
    ListView view;
    {
        ConfigurationsForm form(view);
        form.Form_Load();
        EXPECT_FALSE(modMain::ChecksAllowed);
        ASSERT_EQ(form.rows().size(), 5u);
        EXPECT_EQ(view.rows, 5u);
        using Texts = std::array<std::string, ColumnCount>;
        EXPECT_EQ(form.rows()[0].texts, (Texts{"FILESERVER", "Application", "Error", "1", "0", "0"}));
        EXPECT_EQ(form.rows()[2].texts, (Texts{"*", "*", "*", "1", "1", "1"}));
        EXPECT_EQ(form.rows()[3].texts, (Texts{"", "", "", "0", "0", "1"}));
        for (size_t i = 0; i < 5; ++i) EXPECT_EQ(form.rows()[i].Record(), FiveRecords[i]);

        // Edit: the editor is handed the row's record; what it hands back refills the row.
        view.editor = [](const std::string& r) { return r == FiveRecords[2] ? ";4;;1;1;1;C:\\x[trdoppu]y;" : r; };
        form.cmdEdit_Click(2);
        EXPECT_EQ(form.rows()[2].texts[ColEventType], "Backup");
        EXPECT_EQ(form.rows()[2].batchFile, "C:\\x;y");
        form.cmdEdit_Click(-1);  // nothing selected: no editor
        // Add: "" from the editor adds nothing, a record adds a row.
        view.editor = [](const std::string&) { return std::string(); };
        form.cmdAdd_Click();
        view.editor = [](const std::string&) { return std::string("2;;;1;0;0;;"); };
        form.cmdAdd_Click();
        EXPECT_EQ(view.handed, (std::vector<std::string>{FiveRecords[2], "", ""}));
        ASSERT_EQ(form.rows().size(), 6u);
        EXPECT_EQ(form.rows()[5].texts[ColComputer], "MAILHOST");

        // Remove asks first: No keeps the rows, Yes removes the selected ones.
        boxes.answers = {platform::Answer::No, platform::Answer::Yes};
        form.cmdRemove_Click({0, 3, 5});
        EXPECT_EQ(form.rows().size(), 6u);
        form.cmdRemove_Click({0, 3, 5});
        EXPECT_EQ(boxes.asked.at(0), "[Configurations] Remove selected configuration(s)?");
        ASSERT_TRUE(form.OKButton_Click());
        form.Form_Unload();
        EXPECT_TRUE(modMain::ChecksAllowed);
    }
    EXPECT_EQ(Stored(), (std::vector<std::string>{FiveRecords[1], ";4;;1;1;1;C:\\x[trdoppu]y;", FiveRecords[4]}));
    EXPECT_EQ(modRegistry::GetSetting("config3"), "");
    EXPECT_EQ(modMain::Monitors.size(), 3u);
}

TEST_F(FormLogic, RecordsNoMonitorStandsForKeepTheirRowsAndTheirText) {
    const std::vector<std::string> stored = {FiveRecords[0], "1;;1e300;0;1;0;;surplus;", FiveRecords[1]};
    for (const bool loadFails : {false, true}) {
        SCOPED_TRACE(loadFails ? "all waiting after a failed load" : "one skipped by the load");
        if (loadFails) db->Exec("ALTER TABLE t_eventLog RENAME TO t_gone");
        Store(stored);
        if (loadFails) db->Exec("ALTER TABLE t_gone RENAME TO t_eventLog");
        EXPECT_EQ(modMain::Monitors.size(), loadFails ? 0u : 2u);
        ListView view;
        ConfigurationsForm form(view);
        form.Form_Load();
        ASSERT_EQ(form.rows().size(), 3u);
        EXPECT_EQ(form.rows()[1].texts[ColComputer], "FILESERVER");
        EXPECT_EQ(form.rows()[1].texts[ColEventLevel], "Unreadable: 1e300");
        form.cmdEdit_Click(1);  // not handed to the editor
        EXPECT_TRUE(view.handed.empty());
        ASSERT_TRUE(form.OKButton_Click());
        form.Form_Unload();
        EXPECT_EQ(Stored(), stored);
        EXPECT_EQ(modMain::Monitors.size(), 2u);
    }
}

TEST_F(FormLogic, CancellingTheListWritesNothing) {
    Store(FiveRecords);
    ListView view;
    {
        ConfigurationsForm form(view);
        form.Form_Load();
        boxes.answers = {platform::Answer::Yes};
        form.cmdRemove_Click({0, 1, 2, 3, 4});
        form.CancelButton_Click();
    }  // closed without OK or Form_Unload: the destructor unloads
    EXPECT_TRUE(modMain::ChecksAllowed);
    EXPECT_EQ(Stored(), FiveRecords);
}

TEST_F(FormLogic, TheDatabaseDialogShowsTheCacheAndStoresWhatWasTyped) {
    const struct {
        bool trusted;
        DatabaseFields typed;
        const char* trustedStored;
    } cases[] = {
        {true, {"SQL01", 0, "sa", "secret"}, "Yes"},  // a login typed before Windows authentication is kept
        {false, {"", 1, "monitor", ""}, "No"},        // nothing is checked: an empty server is stored
    };
    for (const auto& c : cases) {
        modDatabase::DBServer = "OLD";
        modDatabase::DBTrustedConnection = c.trusted;
        modDatabase::DBUsername = "olduser";
        modDatabase::DBPassword = "oldpass";
        DatabaseForm form;
        const DatabaseFields shown = form.Form_Load();
        EXPECT_FALSE(modMain::ChecksAllowed);
        EXPECT_EQ(shown.server, "OLD");
        EXPECT_EQ(shown.optUser, c.trusted ? 0 : 1);
        EXPECT_EQ(shown.username, c.trusted ? "" : "olduser");
        EXPECT_EQ(DatabaseForm::LoginEnabled(shown.optUser), !c.trusted);
        ASSERT_TRUE(form.OKButton_Click(c.typed));
        form.Form_Unload();
        EXPECT_TRUE(modMain::ChecksAllowed);
        EXPECT_EQ(modRegistry::GetSetting("Server"), c.typed.server);
        EXPECT_EQ(modRegistry::GetSetting("Trusted_Connection"), c.trustedStored);
        EXPECT_EQ(modCrypt::RevealValue(modRegistry::GetSetting("Username")), c.typed.username);
        EXPECT_EQ(modCrypt::RevealValue(modRegistry::GetSetting("Password")), c.typed.password);
        EXPECT_EQ(modDatabase::DBUsername, c.typed.username);
    }
}

}  // namespace
