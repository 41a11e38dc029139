// The configuration editor against the demo database: what the combos offer,
// the record it hands back for Add and Edit, Cancel and the close box, the
// batch path and its browse button, and taking a choice back.
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <fstream>

#include "dialogs/dialogtest.h"
#include "dialogs/qt/frmConfiguration.h"
#include "dialogs/qt/imagecombo.h"
#include "monitor/modMain.h"
#include "settings/registry.h"

using namespace telwick::test;

namespace {

struct Items {
    std::vector<std::string> keys, texts;
};

Items ItemsOf(ImageCombo* combo) {
    Items items;
    for (int i = 0; i < combo->count(); ++i) {
        items.keys.push_back(combo->KeyAt(i).toStdString());
        items.texts.push_back(combo->itemText(i).toStdString());
    }
    return items;
}

class EditorTest : public DialogTest {
protected:
    // Opens the editor on a record (empty: Add) and confirms it with OK.
    std::string EditAndConfirm(const std::string& record,
                               const std::function<void(frmConfiguration&)>& change = {}) {
        frmConfiguration editor(record);
        if (change) change(editor);
        Child<QPushButton>(&editor, "OKButton")->click();
        EXPECT_EQ(editor.result(), QDialog::Accepted);
        return editor.record();
    }
};

TEST_F(EditorTest, CombosOfferWhatTheDatabaseHoldsInItsOrder) {
    frmConfiguration editor;
    // status 0 is not offered; computers by name, types by name, levels by number
    const Items computers = ItemsOf(Child<ImageCombo>(&editor, "cboComputer"));
    EXPECT_EQ(computers.keys, (std::vector<std::string>{"COM1", "COM5", "COM2", "COM3"}));
    EXPECT_EQ(computers.texts, (std::vector<std::string>{"FILESERVER (CORVANE)", "LAB-07 (LAB)",
                                                         "MAILHOST (CORVANE)", "WS-ACCOUNTING (CORVANE)"}));
    const Items types = ItemsOf(Child<ImageCombo>(&editor, "cboEventType"));
    EXPECT_EQ(types.keys, (std::vector<std::string>{"EVT2", "EVT4", "EVT3", "EVT1"}));
    EXPECT_EQ(types.texts, (std::vector<std::string>{"Application", "Backup", "Security", "System"}));
    const Items levels = ItemsOf(Child<ImageCombo>(&editor, "cboEventLevel"));
    EXPECT_EQ(levels.keys, (std::vector<std::string>{"EVL1", "EVL2", "EVL3", "EVL4", "EVL5"}));
    EXPECT_EQ(levels.texts, (std::vector<std::string>{"Information", "Warning", "Error", "Audit", "Critical"}));
    for (const char* name : {"cboComputer", "cboEventType", "cboEventLevel"}) {
        EXPECT_EQ(Child<ImageCombo>(&editor, name)->currentIndex(), -1) << name;
        EXPECT_FALSE(Child<ImageCombo>(&editor, name)->itemIcon(0).isNull()) << name;
    }
}

TEST_F(EditorTest, AClosedComboShowsItsWholeTextOrAnEllipsis) {
    frmConfiguration editor;
    auto* combo = Child<ImageCombo>(&editor, "cboComputer");
    ASSERT_TRUE(combo->SelectKey("COM5"));
    EXPECT_EQ(combo->ShownText(), "LAB-07 (LAB)");
    // A large font, so that the long name cannot fit whatever the desktop's font.
    QFont large = combo->font();
    large.setPointSize(14);
    combo->setFont(large);
    ASSERT_TRUE(combo->SelectKey("COM3"));
    const QString shown = combo->ShownText();
    EXPECT_TRUE(shown.endsWith(QChar(0x2026)) && QString("WS-ACCOUNTING (CORVANE)").startsWith(shown.chopped(1)))
        << shown.toStdString();
    EXPECT_LT(combo->fontMetrics().horizontalAdvance(shown), combo->width() - combo->iconSize().width());
}

TEST_F(EditorTest, CombosFollowTheLanguageAndKeepNullDomainsReadable) {
    modRegistry::SetSetting("Language", "2");
    db().Exec("UPDATE t_computer SET domainname = '' WHERE computernr = 2");
    frmConfiguration editor;
    EXPECT_EQ(ItemsOf(Child<ImageCombo>(&editor, "cboEventType")).texts,
              (std::vector<std::string>{"Anwendung", "Datensicherung", "Sicherheit", "System"}));
    EXPECT_EQ(Child<ImageCombo>(&editor, "cboComputer")->itemText(2).toStdString(), "MAILHOST ()");
}

TEST_F(EditorTest, EmptyTablesLeaveOnlyTheOpenFilter) {
    db().Exec("DELETE FROM t_computer");
    db().Exec("DELETE FROM t_description");
    EXPECT_EQ(EditAndConfirm(""), ";;;1;0;0;;");
}

TEST_F(EditorTest, AFailingQueryKeepsWhatCameBeforeAndTheRecordStillShows) {
    // event types and levels both come from t_description
    db().Exec("DROP TABLE t_description");
        frmConfiguration editor("3;1;2;0;1;1;/opt/jobs/on-event.sh;");
    EXPECT_EQ(Child<ImageCombo>(&editor, "cboComputer")->count(), 4);
    EXPECT_EQ(Child<ImageCombo>(&editor, "cboComputer")->SelectedKey(), "COM3");
    EXPECT_EQ(Child<ImageCombo>(&editor, "cboEventType")->count(), 0);
    EXPECT_EQ(Child<ImageCombo>(&editor, "cboEventLevel")->count(), 0);
    EXPECT_EQ(Child<QLineEdit>(&editor, "txtBatch")->text(), "/opt/jobs/on-event.sh");
    Child<QPushButton>(&editor, "OKButton")->click();
    EXPECT_EQ(editor.record(), "3;;;0;1;1;/opt/jobs/on-event.sh;");
}

// Edit, then OK without touching anything: what comes back.
struct RoundTrip {
    const char* name;
    const char* record;
    const char* confirmed;
};

class EditorRoundTrip : public EditorTest, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(EditorRoundTrip, OkWithoutChanges) { EXPECT_EQ(EditAndConfirm(GetParam().record), GetParam().confirmed); }

INSTANTIATE_TEST_SUITE_P(
    Records, EditorRoundTrip,
    ::testing::Values(RoundTrip{"AddGivesTheStartState", "", ";;;1;0;0;;"},
                      RoundTrip{"EverythingKnown", "1;2;3;0;1;0;;", "1;2;3;0;1;0;;"},
                      RoundTrip{"PathWithSeparator", "2;;5;1;0;1;C:\\jobs\\a[trdoppu]b.cmd;",
                                "2;;5;1;0;1;C:\\jobs\\a[trdoppu]b.cmd;"},
                      RoundTrip{"ComputerGone", "99;1;1;1;0;0;;", ";1;1;1;0;0;;"},
                      RoundTrip{"ComputerNoLongerActive", "4;;;1;1;0;;", ";;;1;1;0;;"},
                      RoundTrip{"TypeAndLevelGone", "1;42;43;1;0;0;;", "1;;;1;0;0;;"},
                      RoundTrip{"GreyedBoxesStayGreyed", "1;;;2;2;2;/x;", "1;;;2;2;2;/x;"},
                      RoundTrip{"OutOfRangeFlagsKeepTheStartState", "1;;;7;-1;9;;", "1;;;1;0;0;;"},
                      RoundTrip{"PathKeptWithRunBatchOff", ";;;0;0;0;/opt/jobs/run.sh;",
                                ";;;0;0;0;/opt/jobs/run.sh;"},
                      RoundTrip{"MissingFieldsReadAsOpenAndOff", "3;", "3;;;0;0;0;;"}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) { return std::string(info.param.name); });

TEST_F(EditorTest, EditShowsTheRecordStepByStep) {
        frmConfiguration editor("5;3;4;0;1;1;C:\\jobs\\a[trdoppu]b.cmd;");
    EXPECT_EQ(Child<ImageCombo>(&editor, "cboComputer")->currentText(), "LAB-07 (LAB)");
    EXPECT_EQ(Child<ImageCombo>(&editor, "cboEventType")->currentText(), "Security");
    EXPECT_EQ(Child<ImageCombo>(&editor, "cboEventLevel")->currentText(), "Audit");
    EXPECT_FALSE(Child<QCheckBox>(&editor, "chkMessageBox")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(&editor, "chkEventlog")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(&editor, "chkRunBatch")->isChecked());
    EXPECT_EQ(Child<QLineEdit>(&editor, "txtBatch")->text(), "C:\\jobs\\a;b.cmd");
    // "Run batch:" set from the record enables the path and Browse
    EXPECT_TRUE(Child<QLineEdit>(&editor, "txtBatch")->isEnabled());
    EXPECT_TRUE(Child<QPushButton>(&editor, "cmdBrowse")->isEnabled());
}

TEST_F(EditorTest, UncheckingRunBatchDisablesThePathButKeepsIt) {
    const std::string record = EditAndConfirm(";;;1;0;1;/opt/jobs/a[trdoppu]b.sh;", [](frmConfiguration& editor) {
        Child<QCheckBox>(&editor, "chkRunBatch")->click();
        EXPECT_FALSE(Child<QLineEdit>(&editor, "txtBatch")->isEnabled());
        EXPECT_FALSE(Child<QPushButton>(&editor, "cmdBrowse")->isEnabled());
        EXPECT_EQ(Child<QLineEdit>(&editor, "txtBatch")->text(), "/opt/jobs/a;b.sh");
    });
    EXPECT_EQ(record, ";;;1;0;0;/opt/jobs/a[trdoppu]b.sh;");
}

TEST_F(EditorTest, StartStateOfAdd) {
    frmConfiguration editor;
    EXPECT_TRUE(Child<QCheckBox>(&editor, "chkMessageBox")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(&editor, "chkEventlog")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(&editor, "chkRunBatch")->isChecked());
    EXPECT_FALSE(Child<QLineEdit>(&editor, "txtBatch")->isEnabled());
    EXPECT_FALSE(Child<QPushButton>(&editor, "cmdBrowse")->isEnabled());
    EXPECT_TRUE(Child<QLineEdit>(&editor, "txtBatch")->text().isEmpty());
}

TEST_F(EditorTest, ChoicesMadeByTheUserGoIntoTheRecord) {
    const std::string record = EditAndConfirm("", [](frmConfiguration& editor) {
        EXPECT_TRUE(Child<ImageCombo>(&editor, "cboComputer")->SelectKey("COM2"));
        EXPECT_TRUE(Child<ImageCombo>(&editor, "cboEventLevel")->SelectKey("EVL5"));
        Child<QCheckBox>(&editor, "chkMessageBox")->click();
        Child<QCheckBox>(&editor, "chkEventlog")->click();
        Child<QCheckBox>(&editor, "chkRunBatch")->click();
        QTest::keyClicks(Child<QLineEdit>(&editor, "txtBatch"), "/usr/local/bin/page-admin");
    });
    EXPECT_EQ(record, "2;;5;0;1;1;/usr/local/bin/page-admin;");
}

TEST_F(EditorTest, AGreyedBoxClickedByTheUserBecomesAPlainOne) {
    const std::string record = EditAndConfirm("1;;;2;0;0;;", [](frmConfiguration& editor) {
        auto* box = Child<QCheckBox>(&editor, "chkMessageBox");
        box->click();  // greyed -> checked
        box->click();  // checked -> unchecked, never greyed again
        box->click();
    });
    EXPECT_EQ(record, "1;;;1;0;0;;");
}

// The three ways to take a choice back to the open filter.
class TakeBack : public EditorTest, public ::testing::WithParamInterface<int> {};

TEST_P(TakeBack, ReturnsToTheOpenFilter) {
    const std::string record = EditAndConfirm("1;2;3;1;0;0;;", [](frmConfiguration& editor) {
        for (const char* name : {"cboComputer", "cboEventType", "cboEventLevel"}) {
            auto* combo = Child<ImageCombo>(&editor, name);
            ASSERT_GE(combo->currentIndex(), 0);
            switch (GetParam()) {
            case 0: QTest::keyClick(combo, Qt::Key_Delete); break;
            case 1: QTest::keyClick(combo, Qt::Key_Backspace); break;
            default: combo->clearAction()->trigger(); break;
            }
            EXPECT_EQ(combo->currentIndex(), -1) << name;
            EXPECT_EQ(combo->currentText(), "") << name;
        }
    });
    EXPECT_EQ(record, ";;;1;0;0;;");
}

INSTANTIATE_TEST_SUITE_P(Ways, TakeBack, ::testing::Values(0, 1, 2), [](const auto& info) {
    return std::string(info.param == 0 ? "DeleteKey" : info.param == 1 ? "BackspaceKey" : "ContextMenuAny");
});

// Cancel, Esc and the close box: only the first two hand back the empty record.
struct Closing {
    const char* name;
    std::function<void(frmConfiguration&)> close;
    bool emptied;
};

class EditorClosing : public EditorTest, public ::testing::WithParamInterface<Closing> {};

TEST_P(EditorClosing, WhatItHandsBack) {
    for (const std::string& record : {std::string(), std::string("1;2;3;0;1;0;;")}) {
        frmConfiguration editor(record);
        editor.show();
        Child<ImageCombo>(&editor, "cboComputer")->SelectKey("COM5");
        GetParam().close(editor);
        EXPECT_FALSE(editor.isVisible());
        EXPECT_EQ(editor.result(), QDialog::Rejected);
        EXPECT_EQ(editor.record(), GetParam().emptied ? std::string() : record) << record;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ways, EditorClosing,
    ::testing::Values(Closing{"CancelButton",
                              [](frmConfiguration& e) { Child<QPushButton>(&e, "CancelButton")->click(); }, true},
                      Closing{"EscKey", [](frmConfiguration& e) { QTest::keyClick(&e, Qt::Key_Escape); }, true},
                      Closing{"CloseBox", [](frmConfiguration& e) { e.close(); }, false}),
    [](const ::testing::TestParamInfo<Closing>& info) { return std::string(info.param.name); });

TEST_F(EditorTest, BrowseOffersBatchFilesFirstAndTakesTheChosenFile) {
    TempDir dir;
    const std::string script = dir.file("notify admin.cmd");
    std::ofstream(script) << "echo\n";

    const std::string record = EditAndConfirm(";;;1;0;1;;", [&](frmConfiguration& editor) {
        ModalDriver driver;
        QStringList filters;
        QString selectedFilter;
        driver.Then("QFileDialog", [&](QWidget* w) {
            auto* dialog = static_cast<QFileDialog*>(w);
            filters = dialog->nameFilters();
            selectedFilter = dialog->selectedNameFilter();
            dialog->setDirectory(QString::fromStdString(dir.path()));
            dialog->selectFile(QString::fromStdString(script));
            static_cast<QDialog*>(dialog)->accept();  // QFileDialog hides its accept()
        });
        Child<QPushButton>(&editor, "cmdBrowse")->click();
        EXPECT_TRUE(driver.done());
        EXPECT_EQ(filters, frmConfiguration::BrowseNameFilters());
        EXPECT_EQ(selectedFilter, filters.value(0));
        EXPECT_EQ(Child<QLineEdit>(&editor, "txtBatch")->text().toStdString(), script);

        // a browse that is cancelled keeps the path
        driver.Then("QFileDialog", [](QWidget* w) { static_cast<QFileDialog*>(w)->reject(); });
        Child<QPushButton>(&editor, "cmdBrowse")->click();
        EXPECT_TRUE(driver.done());
        EXPECT_EQ(Child<QLineEdit>(&editor, "txtBatch")->text().toStdString(), script);
    });
    EXPECT_EQ(record, ";;;1;0;1;" + script + ";");
}

}  // namespace
