// The configuration list against the demo database and a private hive: what
// the rows show, Add / Edit / Remove through the editor and the question, the
// save with the emptying of stale records, Cancel, the closing, and a row
// whose lookups were cut short by a database failure.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>

#include "database/modDatabase.h"
#include "dialogs/dialogs.h"
#include "dialogs/dialogtest.h"
#include "dialogs/qt/frmConfiguration.h"
#include "dialogs/qt/frmConfigurations.h"
#include "dialogs/qt/imagecombo.h"
#include "monitor/modMain.h"
#include "settings/errors.h"
#include "settings/registry.h"

using namespace telwick::test;
using telwick::platform::Answer;
using telwick::platform::Buttons;
using Rows = std::vector<std::vector<std::string>>;

namespace {

QTreeWidget* List(frmConfigurations& form) { return Child<QTreeWidget>(&form, "lstConfigurations"); }

Rows RowsOf(frmConfigurations& form) {
    Rows rows;
    QTreeWidget* list = List(form);
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        std::vector<std::string> row;
        for (int c = 0; c < 6; ++c) row.push_back(list->topLevelItem(i)->text(c).toStdString());
        rows.push_back(row);
    }
    return rows;
}

void Select(frmConfigurations& form, std::initializer_list<int> rows) {
    QTreeWidget* list = List(form);
    list->clearSelection();
    for (int r : rows) list->topLevelItem(r)->setSelected(true);
    if (rows.size()) list->setCurrentItem(list->topLevelItem(*rows.begin()), 0, QItemSelectionModel::NoUpdate);
}

void Click(frmConfigurations& form, const char* button) { Child<QPushButton>(&form, button)->click(); }
// The record an open editor was handed.
std::string Given(QWidget* editor) { return qobject_cast<frmConfiguration*>(editor)->record(); }

class ListTest : public DialogTest {
protected:
    // config0 ... as stored now, up to the first one that is missing
    std::vector<std::string> Stored(int upTo = 10) {
        std::vector<std::string> values;
        for (int i = 0; i < upTo; ++i) values.push_back(Setting("config" + std::to_string(i)));
        while (!values.empty() && values.back().empty()) values.pop_back();
        return values;
    }
};

const std::vector<std::string> FiveRecords = {
    "1;2;3;1;0;0;;",
    "4;;5;0;1;0;;",
    ";;;1;1;1;C:\\jobs\\a[trdoppu]b.cmd;",
    "99;42;43;0;0;1;;",
    "3;1;;0;1;1;/opt/jobs/on-event.sh;",
};

TEST_F(ListTest, RowsShowTheMonitorsInMemory) {
    StoreConfigurations(FiveRecords);
    frmConfigurations form;
    EXPECT_FALSE(modMain::ChecksAllowed);
    EXPECT_EQ(RowsOf(form), (Rows{
                                {"FILESERVER", "Application", "Error", "1", "0", "0"},
                                // a computer out of service still shows its name
                                {"OLD-PRINTSRV", "*", "Critical", "0", "1", "0"},
                                {"*", "*", "*", "1", "1", "1"},
                                // numbers that name no row leave the cells empty
                                {"", "", "", "0", "0", "1"},
                                {"WS-ACCOUNTING", "System", "*", "0", "1", "1"},
                            }));
    const QTreeWidgetItem* third = List(form)->topLevelItem(2);
    EXPECT_EQ(third->data(0, frmConfigurations::BatchFileRole).toByteArray(), "C:\\jobs\\a;b.cmd");
}

TEST_F(ListTest, ColumnsAndTheirWidths) {
    frmConfigurations form;
    QTreeWidget* list = List(form);
    ASSERT_EQ(list->columnCount(), 6);
    const char* headers[] = {"Computer", "Event type", "Event level", "MsgBox", "Eventlog", "Batch"};
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(list->headerItem()->text(c), headers[c]);
        // 2000 and 1000 twips: 133 and 67 pixels at 96 dpi
        EXPECT_EQ(list->columnWidth(c),
                  static_cast<int>(std::lround((c < 3 ? 2000 : 1000) * form.logicalDpiX() / 1440.0)))
            << headers[c];
    }
}

TEST_F(ListTest, OkWritesTheListBackAndReloadsTheMonitors) {
    StoreConfigurations(FiveRecords);
    frmConfigurations form;
    // reloaded monitors start at the newest event of their moment
    const int32_t newest = db().AddEvent(1, 1, 1, 1, std::nullopt);
    ASSERT_LT(modMain::Monitors[0]->lastEventLogNr(), newest);
    Click(form, "OKButton");
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(Stored(), FiveRecords);
    ASSERT_EQ(modMain::Monitors.size(), 5u);
    for (const auto& m : modMain::Monitors) EXPECT_EQ(m->lastEventLogNr(), newest);
    EXPECT_EQ(modMain::Monitors[2]->batchFile(), "C:\\jobs\\a;b.cmd");
    EXPECT_TRUE(modMain::ChecksAllowed);
}

// Fewer rows than stored records: the rest is emptied up to the first empty
// one, and what lies behind that stays.
struct Shrink {
    const char* name;
    std::vector<int> removed;
    std::vector<std::string> expected;
};

class ListShrink : public ListTest, public ::testing::WithParamInterface<Shrink> {};

TEST_P(ListShrink, StaleRecordsAreEmptiedUpToTheFirstEmptyOne) {
    StoreConfigurations(FiveRecords);
    modRegistry::SetSetting("config5", "");
    modRegistry::SetSetting("config6", "2;;;1;0;0;;");
    frmConfigurations form;
    QTreeWidget* list = List(form);
    list->clearSelection();
    for (int r : GetParam().removed) list->topLevelItem(r)->setSelected(true);
    boxes.answers = {Answer::Yes};
    Click(form, "cmdRemove");
    Click(form, "OKButton");
    std::vector<std::string> expected = GetParam().expected;
    for (size_t i = expected.size(); i < 5; ++i) expected.push_back("");
    expected.push_back("");
    expected.push_back("2;;;1;0;0;;");
    EXPECT_EQ(Stored(7), expected);
    EXPECT_EQ(modMain::Monitors.size(), GetParam().expected.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListShrink,
    ::testing::Values(Shrink{"ThreeOfFive", {1, 3, 4}, {FiveRecords[0], FiveRecords[2]}},
                      Shrink{"TheFirst", {0}, {FiveRecords[1], FiveRecords[2], FiveRecords[3], FiveRecords[4]}},
                      Shrink{"All", {0, 1, 2, 3, 4}, {}}),
    [](const ::testing::TestParamInfo<Shrink>& info) { return std::string(info.param.name); });

TEST_F(ListTest, AnEmptyListEmptiesRecordsThatWereNeverLoaded) {
    modRegistry::CreateProgramKey();
    modRegistry::SetSetting("config0", "1;;;1;0;0;;");
    modRegistry::SetSetting("config1", "2;;;1;0;0;;");
    frmConfigurations form;  // no monitors in memory
    EXPECT_EQ(List(form)->topLevelItemCount(), 0);
    Click(form, "OKButton");
    EXPECT_EQ(Setting("config0"), "");
    EXPECT_EQ(Setting("config1"), "");
    EXPECT_TRUE(modMain::Monitors.empty());
}

// The question of Remove, answered both ways.
class ListRemove : public ListTest, public ::testing::WithParamInterface<Answer> {};

TEST_P(ListRemove, RemovesTheSelectedRowsOnlyOnYes) {
    StoreConfigurations(FiveRecords);
    frmConfigurations form;
    const Rows all = RowsOf(form);
    Select(form, {4, 0, 2});
    boxes.answers = {GetParam()};
    Click(form, "cmdRemove");
    ASSERT_EQ(boxes.asked.size(), 1u);
    EXPECT_EQ(boxes.asked[0].text, modMain::GetMessageText(1));
    EXPECT_EQ(boxes.asked[0].title, "Configurations");
    EXPECT_EQ(boxes.asked[0].buttons, Buttons::YesNo);
    EXPECT_EQ(RowsOf(form), GetParam() == Answer::Yes ? (Rows{all[1], all[3]}) : all);
    // nothing reaches the settings before OK
    EXPECT_EQ(Stored(), FiveRecords);
}

INSTANTIATE_TEST_SUITE_P(Answers, ListRemove, ::testing::Values(Answer::Yes, Answer::No),
                         [](const auto& info) { return std::string(info.param == Answer::Yes ? "Yes" : "No"); });

TEST_F(ListTest, AddAppendsWhatTheEditorConfirms) {
    StoreConfigurations({FiveRecords[0]});
    frmConfigurations form;
    ModalDriver driver;
    driver.Then("frmConfiguration", [&](QWidget* editor) {
        // owned by the list, and handed an empty record
        EXPECT_EQ(editor->parentWidget(), &form);
        EXPECT_EQ(Given(editor), "");
        Child<ImageCombo>(editor, "cboComputer")->SelectKey("COM3");
        Child<ImageCombo>(editor, "cboEventLevel")->SelectKey("EVL2");
        Child<QCheckBox>(editor, "chkMessageBox")->setCheckState(Qt::PartiallyChecked);
        Child<QPushButton>(editor, "OKButton")->click();
    });
    Click(form, "cmdAdd");
    EXPECT_TRUE(driver.done());
    ASSERT_EQ(List(form)->topLevelItemCount(), 2);
    // the greyed box shows as the editor wrote it
    EXPECT_EQ(RowsOf(form)[1], (std::vector<std::string>{"WS-ACCOUNTING", "*", "Warning", "2", "0", "0"}));
    Click(form, "OKButton");
    EXPECT_EQ(Stored(), (std::vector<std::string>{FiveRecords[0], "3;;2;2;0;0;;"}));
}

// The editor left without OK: nothing is added, the edited row stays as it was.
struct LeaveEditor {
    const char* name;
    std::function<void(QWidget*)> leave;
};

class ListLeaveEditor : public ListTest, public ::testing::WithParamInterface<LeaveEditor> {};

TEST_P(ListLeaveEditor, AddAndEditChangeNothing) {
    StoreConfigurations(FiveRecords);
    frmConfigurations form;
    const Rows before = RowsOf(form);
    ModalDriver driver;
    auto changeThenLeave = [&](QWidget* editor) {
        Child<ImageCombo>(editor, "cboComputer")->SelectKey("COM5");
        Child<QCheckBox>(editor, "chkEventlog")->click();
        GetParam().leave(editor);
    };
    driver.Then("frmConfiguration", changeThenLeave);
    Click(form, "cmdAdd");
    Select(form, {2});
    driver.Then("frmConfiguration", changeThenLeave);
    Click(form, "cmdEdit");
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(RowsOf(form), before);
    Click(form, "OKButton");
    EXPECT_EQ(Stored(), FiveRecords);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, ListLeaveEditor,
    ::testing::Values(LeaveEditor{"Cancel", [](QWidget* e) { Child<QPushButton>(e, "CancelButton")->click(); }},
                      LeaveEditor{"CloseBox", [](QWidget* e) { e->close(); }}),
    [](const ::testing::TestParamInfo<LeaveEditor>& info) { return std::string(info.param.name); });

TEST_F(ListTest, EditRefillsTheSelectedRowFromTheEditedRecord) {
    StoreConfigurations(FiveRecords);
    frmConfigurations form;
    const Rows before = RowsOf(form);
    Select(form, {2});
    ModalDriver driver;
    driver.Then("frmConfiguration", [](QWidget* editor) {
        // the row's record, with the path that holds a ";"
        EXPECT_EQ(Given(editor), FiveRecords[2]);
        EXPECT_EQ(Child<QLineEdit>(editor, "txtBatch")->text(), "C:\\jobs\\a;b.cmd");
        Child<ImageCombo>(editor, "cboEventType")->SelectKey("EVT4");
        Child<QPushButton>(editor, "OKButton")->click();
    });
    Click(form, "cmdEdit");
    EXPECT_TRUE(driver.done());
    Rows expected = before;
    expected[2][1] = "Backup";
    EXPECT_EQ(RowsOf(form), expected);
    Click(form, "OKButton");
    EXPECT_EQ(Setting("config2"), ";4;;1;1;1;C:\\jobs\\a[trdoppu]b.cmd;");
}

TEST_F(ListTest, EditWithoutASelectedRowOpensNothing) {
    StoreConfigurations(FiveRecords);
    frmConfigurations form;
    List(form)->clearSelection();
    bool opened = false;
    {
        ModalDriver driver;
        driver.Then("frmConfiguration", [&](QWidget* editor) {
            opened = true;
            editor->close();
        });
        Click(form, "cmdEdit");
    }
    EXPECT_FALSE(opened);
}

// Cancel, Esc and the close box after changes: nothing is written, the monitors
// stay, checks are allowed and the shared connection is closed.
struct LeaveList {
    const char* name;
    std::function<void(frmConfigurations&)> leave;
};

class ListLeave : public ListTest, public ::testing::WithParamInterface<LeaveList> {};

TEST_P(ListLeave, WritesNothing) {
    StoreConfigurations(FiveRecords);
    const int32_t covered = modMain::Monitors[0]->lastEventLogNr();
    {
        frmConfigurations form;
        db().AddEvent(1, 1, 1, 1, std::nullopt);
        form.show();
        ASSERT_EQ(modDatabase::SharedConnection->State(), telwick::db::adStateOpen);
        Select(form, {0, 1});
        boxes.answers = {Answer::Yes};
        Click(form, "cmdRemove");
        GetParam().leave(form);
        EXPECT_FALSE(form.isVisible());
        EXPECT_EQ(form.result(), QDialog::Rejected);
        EXPECT_TRUE(modMain::ChecksAllowed);
        EXPECT_EQ(modDatabase::SharedConnection->State(), telwick::db::adStateClosed);
    }
    EXPECT_EQ(Stored(), FiveRecords);
    // the monitors were not reloaded: they keep their place in the events
    ASSERT_EQ(modMain::Monitors.size(), 5u);
    for (const auto& m : modMain::Monitors) EXPECT_EQ(m->lastEventLogNr(), covered);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, ListLeave,
    ::testing::Values(LeaveList{"Cancel", [](frmConfigurations& f) { Click(f, "CancelButton"); }},
                      LeaveList{"EscKey", [](frmConfigurations& f) { QTest::keyClick(&f, Qt::Key_Escape); }},
                      LeaveList{"CloseBox", [](frmConfigurations& f) { f.close(); }}),
    [](const ::testing::TestParamInfo<LeaveList>& info) { return std::string(info.param.name); });

// A lookup that fails part way leaves a row that still saves its own record.
class ListLookupFails : public ListTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ListLookupFails, TheRowKeepsItsRecord) {
    StoreConfigurations(FiveRecords);
    db().Exec(std::string("DROP TABLE ") + GetParam());
    frmConfigurations form;
    const Rows rows = RowsOf(form);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0][3] + rows[0][4] + rows[0][5], "100");
    EXPECT_EQ(rows[2], (std::vector<std::string>{"*", "*", "*", "1", "1", "1"}));
    Click(form, "OKButton");
    EXPECT_EQ(Stored(), FiveRecords);
}

INSTANTIATE_TEST_SUITE_P(Tables, ListLookupFails, ::testing::Values("t_computer", "t_description"),
                         [](const auto& info) { return std::string(info.param); });

// Records the load could not turn into monitors: one skipped as unreadable,
// or all still waiting after a failed load. Each has its row in its place, and
// OK writes it back exactly as stored, whatever else the administrator did.
const std::string Unreadable = "99999999999;;;0;1;0;/opt/a[trdoppu]b.sh;surplus;";

struct Kept {
    const char* name;
    bool loadFails;  // the load stopped at config0: every record waits
    std::function<void(frmConfigurations&, ModalDriver&, ScriptedMessageBoxes&)> act;
    std::vector<std::string> expected;
};

void PrintTo(const Kept& c, std::ostream* os) { *os << c.name; }

class ListKeeps : public ListTest, public ::testing::WithParamInterface<Kept> {};

TEST_P(ListKeeps, WhatNoMonitorStandsForIsWrittenBackAsStored) {
    if (GetParam().loadFails) db().Exec("ALTER TABLE t_eventLog RENAME TO t_gone");
    StoreConfigurations({FiveRecords[0], Unreadable, FiveRecords[1]});
    if (GetParam().loadFails) db().Exec("ALTER TABLE t_gone RENAME TO t_eventLog");
    ASSERT_EQ(modMain::Monitors.size(), GetParam().loadFails ? 0u : 2u);
    frmConfigurations form;
    const Rows rows = RowsOf(form);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][0], "FILESERVER");
    EXPECT_EQ(rows[1], (std::vector<std::string>{"Unreadable: 99999999999", "*", "*", "0", "1", "0"}));
    EXPECT_TRUE(List(form)->topLevelItem(1)->toolTip(2).contains("outside the range"));
    ModalDriver driver;
    GetParam().act(form, driver, boxes);
    EXPECT_TRUE(driver.done());
    Click(form, "OKButton");
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(Stored(), GetParam().expected);
}

const auto Nothing = [](frmConfigurations&, ModalDriver&, ScriptedMessageBoxes&) {};
const auto RemoveRow = [](int row) {
    return [row](frmConfigurations& form, ModalDriver&, ScriptedMessageBoxes& boxes) {
        Select(form, {row});
        boxes.answers = {Answer::Yes};
        Click(form, "cmdRemove");
    };
};

INSTANTIATE_TEST_SUITE_P(
    Cases, ListKeeps,
    ::testing::Values(
        Kept{"Nothing", false, Nothing, {FiveRecords[0], Unreadable, FiveRecords[1]}},
        Kept{"NothingAfterAFailedLoad", true, Nothing, {FiveRecords[0], Unreadable, FiveRecords[1]}},
        Kept{"EditTheUnreadable", false,
             [](frmConfigurations& form, ModalDriver&, ScriptedMessageBoxes& boxes) {
                 // no editor opens (the driver has no step for one): a message says why
                 Select(form, {1});
                 Click(form, "cmdEdit");
                 ASSERT_EQ(boxes.asked.size(), 1u);
                 EXPECT_EQ(boxes.asked[0].title, "Configurations");
                 EXPECT_NE(boxes.asked[0].text.find("\"99999999999\" is outside"), std::string::npos);
             },
             {FiveRecords[0], Unreadable, FiveRecords[1]}},
        Kept{"EditAnotherAfterAFailedLoad", true,
             [](frmConfigurations& form, ModalDriver& driver, ScriptedMessageBoxes&) {
                 Select(form, {2});
                 driver.Then("frmConfiguration", [](QWidget* editor) {
                     Child<ImageCombo>(editor, "cboEventType")->SelectKey("EVT4");
                     Child<QPushButton>(editor, "OKButton")->click();
                 });
                 Click(form, "cmdEdit");
             },
             // computer 4 is out of service, so the editor offers no item for it
             {FiveRecords[0], Unreadable, ";4;5;0;1;0;;"}},
        Kept{"RemoveTheFirst", false, RemoveRow(0), {Unreadable, FiveRecords[1]}},
        Kept{"RemoveTheUnreadable", true, RemoveRow(1), {FiveRecords[0], FiveRecords[1]}}),
    [](const ::testing::TestParamInfo<Kept>& info) { return std::string(info.param.name); });

TEST_F(ListTest, AccessKeysPressTheirButtons) {
    // Qt's waits give up after 5 s by default; a loaded machine may need more.
    constexpr int Patience = 30000;
    StoreConfigurations(FiveRecords);
    frmConfigurations form;
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form, Patience));
    Select(form, {1});
    boxes.answers = {Answer::No};
    // an access key presses its button the way a click does, a moment later
    QTest::keyClick(&form, Qt::Key_R, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return boxes.asked.size() == 1; }, Patience));
    ModalDriver driver;
    std::vector<std::string> handed;
    for (int i = 0; i < 2; ++i)
        driver.Then("frmConfiguration", [&](QWidget* editor) {
            handed.push_back(Given(editor));
            Child<QPushButton>(editor, "CancelButton")->click();
        });
    QTest::keyClick(&form, Qt::Key_E, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return handed.size() == 1; }, Patience));
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form, Patience));
    QTest::keyClick(&form, Qt::Key_A, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return handed.size() == 2; }, Patience));
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(handed, (std::vector<std::string>{FiveRecords[1], ""}));
}

TEST_F(ListTest, OpenConfigurationsShowsOneModalListWithoutOwner) {
    StoreConfigurations({FiveRecords[0]});
    EXPECT_FALSE(telwick::dialogs::ConfigurationsOpen());
    ModalDriver driver;
    int lists = 0;
    driver.Then("frmConfigurations", [&](QWidget* list) {
        EXPECT_TRUE(telwick::dialogs::ConfigurationsOpen());
        EXPECT_TRUE(list->isModal());
        EXPECT_EQ(list->parentWidget(), nullptr);
        EXPECT_FALSE(modMain::ChecksAllowed);
        const QWidgetList windows = QApplication::topLevelWidgets();
        lists = static_cast<int>(std::count_if(windows.begin(), windows.end(), [](QWidget* w) {
            return w->isVisible() && qobject_cast<frmConfigurations*>(w);
        }));
        // a second double click on the icon while it is open
        telwick::dialogs::OpenConfigurations();
        Child<QPushButton>(list, "CancelButton")->click();
    });
    telwick::dialogs::OpenConfigurations();
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(lists, 1);
    EXPECT_FALSE(telwick::dialogs::ConfigurationsOpen());
    EXPECT_TRUE(modMain::ChecksAllowed);
}

}  // namespace
