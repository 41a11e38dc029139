// The database connection dialog: what it shows from the cache, the option
// buttons, what OK stores (the login protected) and Cancel does not, the
// refusal to store half a login, the round trip through CheckDB, and the hook
// that lets CheckDB show it.
#include <openssl/evp.h>

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTest>

#include "database/modDatabase.h"
#include "dialogs/dialogs.h"
#include "dialogs/dialogtest.h"
#include "dialogs/qt/frmConfigurations.h"
#include "dialogs/qt/frmDatabase.h"
#include "monitor/modMain.h"
#include "settings/crypt.h"
#include "settings/registry.h"

using namespace telwick::test;

namespace {

class DatabaseDialogTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        // the settings of the test database are in the hive; the cache is empty
        modRegistry::SetSetting("Server", "");
    }
    static void SetCache(const std::string& server, bool trusted, const std::string& user,
                         const std::string& password) {
        modDatabase::DBServer = server;
        modDatabase::DBTrustedConnection = trusted;
        modDatabase::DBUsername = user;
        modDatabase::DBPassword = password;
    }
    static std::vector<std::string> Cache() {
        return {modDatabase::DBServer, modDatabase::DBTrustedConnection ? "trusted" : "login",
                modDatabase::DBUsername, modDatabase::DBPassword};
    }
    static std::vector<std::string> Stored() {
        return {Setting("Server"), Setting("Trusted_Connection"), Setting("Username"), Setting("Password")};
    }
};

QLineEdit* Box(frmDatabase& f, const char* name) { return Child<QLineEdit>(&f, name); }

TEST_F(DatabaseDialogTest, LoadShowsTheCacheAndSuspendsChecks) {
    struct Case {
        bool trusted;
        const char* wantUser;
        bool loginEnabled;
    };
    for (const Case c : {Case{true, "", false}, Case{false, "monitor", true}}) {
        SetCache("DBHOST\\CORVANE", c.trusted, "monitor", "s3cret");
        {
            frmDatabase form;
            EXPECT_FALSE(modMain::ChecksAllowed);
            EXPECT_EQ(Box(form, "txtServer")->text(), "DBHOST\\CORVANE");
            EXPECT_EQ(Child<QRadioButton>(&form, "optUser_0")->isChecked(), c.trusted);
            EXPECT_EQ(Child<QRadioButton>(&form, "optUser_1")->isChecked(), !c.trusted);
            EXPECT_EQ(Box(form, "txtUsername")->text(), c.wantUser);
            EXPECT_EQ(Box(form, "txtPassword")->text(), c.trusted ? "" : "s3cret");
            EXPECT_EQ(Box(form, "txtUsername")->isEnabled(), c.loginEnabled);
            EXPECT_EQ(Box(form, "txtPassword")->isEnabled(), c.loginEnabled);
            EXPECT_EQ(Box(form, "txtPassword")->echoMode(), QLineEdit::Password);
            EXPECT_EQ(Box(form, "txtPassword")
                          ->style()
                          ->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, Box(form, "txtPassword")),
                      '*');
        }
        // an unload that nobody asked for still allows checks again
        EXPECT_TRUE(modMain::ChecksAllowed);
    }
}

TEST_F(DatabaseDialogTest, OnTopOfTheListItLeavesTheChecksOffUntilTheListCloses) {
    {
        frmConfigurations list;
        EXPECT_FALSE(modMain::ChecksAllowed);
        for (const char* button : {"OKButton", "CancelButton"}) {
            SetCache("DBHOST", true, "", "");
            frmDatabase form;
            Child<QPushButton>(&form, button)->click();
            EXPECT_FALSE(modMain::ChecksAllowed) << button;
        }
        Child<QPushButton>(&list, "CancelButton")->click();
    }
    EXPECT_TRUE(modMain::ChecksAllowed);
}

TEST_F(DatabaseDialogTest, OkStoresTheEntriesAndTheProtectedLogin) {
    SetCache("OLDHOST", true, "", "");
    frmDatabase form;
    Box(form, "txtServer")->setText(" dbhost ");  // taken as typed
    Child<QRadioButton>(&form, "optUser_1")->click();
    QTest::keyClicks(Box(form, "txtUsername"), "monitor");
    QTest::keyClicks(Box(form, "txtPassword"), "pa;ss word");
    Child<QPushButton>(&form, "OKButton")->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_TRUE(modMain::ChecksAllowed);
    EXPECT_EQ(Cache(), (std::vector<std::string>{" dbhost ", "login", "monitor", "pa;ss word"}));
    const std::vector<std::string> stored = Stored();
    EXPECT_EQ(stored[0], " dbhost ");
    EXPECT_EQ(stored[1], "No");
    // uppercase hex pairs with one blank between them, the clear text nowhere
    const auto hexPairs = [](const std::string& text) {
        if (text.size() % 3 != 2) return false;
        for (size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            const bool ok = i % 3 == 2 ? c == ' ' : (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
            if (!ok) return false;
        }
        return true;
    };
    for (int i : {2, 3}) {
        EXPECT_TRUE(hexPairs(stored[i])) << stored[i];
        EXPECT_EQ(stored[i].find("monitor"), std::string::npos);
    }
    EXPECT_EQ(modCrypt::RevealValue(stored[2]), "monitor");
    EXPECT_EQ(modCrypt::RevealValue(stored[3]), "pa;ss word");
}

TEST_F(DatabaseDialogTest, WindowsAuthenticationStillStoresTheDisabledLogin) {
    SetCache("DBHOST", false, "monitor", "s3cret");
    frmDatabase form;
    Child<QRadioButton>(&form, "optUser_0")->click();
    EXPECT_FALSE(Box(form, "txtUsername")->isEnabled());
    EXPECT_EQ(Box(form, "txtUsername")->text(), "monitor");
    Child<QPushButton>(&form, "OKButton")->click();
    EXPECT_EQ(Setting("Trusted_Connection"), "Yes");
    EXPECT_EQ(modCrypt::RevealValue(Setting("Username")), "monitor");
    EXPECT_EQ(modCrypt::RevealValue(Setting("Password")), "s3cret");
    EXPECT_EQ(Cache(), (std::vector<std::string>{"DBHOST", "trusted", "monitor", "s3cret"}));
}

TEST_F(DatabaseDialogTest, CancelEscAndTheCloseBoxStoreNothing) {
    const std::vector<std::function<void(frmDatabase&)>> ways = {
        [](frmDatabase& f) { Child<QPushButton>(&f, "CancelButton")->click(); },
        [](frmDatabase& f) { QTest::keyClick(&f, Qt::Key_Escape); },
        [](frmDatabase& f) { f.close(); },
    };
    for (size_t i = 0; i < ways.size(); ++i) {
        SetCache("DBHOST", false, "monitor", "s3cret");
        const auto stored = Stored();
        frmDatabase form;
        form.show();
        Box(form, "txtServer")->setText("OTHER");
        Child<QRadioButton>(&form, "optUser_0")->click();
        ways[i](form);
        EXPECT_FALSE(form.isVisible()) << i;
        EXPECT_TRUE(modMain::ChecksAllowed) << i;
        EXPECT_EQ(Cache(), (std::vector<std::string>{"DBHOST", "login", "monitor", "s3cret"})) << i;
        EXPECT_EQ(Stored(), stored) << i;
    }
}

TEST_F(DatabaseDialogTest, ALoginThatCannotBeProtectedStoresNothing) {
    SetCache("DBHOST", false, "monitor", "s3cret");
    const auto stored = Stored();
    frmDatabase form;
    form.show();
    Box(form, "txtServer")->setText("NEWHOST");
    // no provider offers the cipher any more: every encryption fails
    ASSERT_EQ(EVP_set_default_properties(nullptr, "provider=telwick-none"), 1);
    Child<QPushButton>(&form, "OKButton")->click();
    EVP_set_default_properties(nullptr, "");
    ASSERT_EQ(boxes.asked.size(), 1u);
    EXPECT_NE(boxes.asked[0].text.find("could not be protected"), std::string::npos);
    EXPECT_EQ(boxes.asked[0].title, "Database connection");
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(modMain::ChecksAllowed);
    EXPECT_EQ(Cache(), (std::vector<std::string>{"DBHOST", "login", "monitor", "s3cret"}));
    EXPECT_EQ(Stored(), stored);
    // with the cipher back, OK goes through
    Child<QPushButton>(&form, "OKButton")->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(Setting("Server"), "NEWHOST");
}

TEST_F(DatabaseDialogTest, InstalledDialogIsWhatCheckDbShowsWithADisplay) {
    telwick::dialogs::InstallDatabaseDialog();
    ScopedEnv display("DISPLAY", ":telwick-test");
    ModalDriver driver;
    driver.Then("frmDatabase", [&](QWidget* form) {
        EXPECT_EQ(form->parentWidget(), nullptr);
        EXPECT_TRUE(form->isModal());
        Child<QLineEdit>(form, "txtServer")->setText(QString::fromStdString(db().server()));
        Child<QRadioButton>(form, "optUser_1")->click();
        Child<QLineEdit>(form, "txtUsername")->setText("reader");
        Child<QLineEdit>(form, "txtPassword")->setText("pw");
        Child<QPushButton>(form, "OKButton")->click();
    });
    EXPECT_TRUE(modDatabase::CheckDB());
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(modDatabase::DBServer, db().server());
    // the login goes through the hive protected and comes back in clear
    modDatabase::Reset();
    ASSERT_TRUE(modDatabase::CheckDB());
    EXPECT_EQ(modDatabase::DBUsername, "reader");
    EXPECT_EQ(modDatabase::DBPassword, "pw");
    EXPECT_FALSE(modDatabase::DBTrustedConnection);
    modDatabase::SetDatabaseDialog(nullptr);
}

TEST_F(DatabaseDialogTest, WithoutADisplayTheDialogCountsAsCancelled) {
    telwick::dialogs::InstallDatabaseDialog();
    ScopedEnv noDisplay("DISPLAY", "");
    ScopedEnv noWayland("WAYLAND_DISPLAY", "");
    // no server and nobody to ask: CheckDB ends the program
    EXPECT_THROW(modDatabase::CheckDB(), ProgramEnded);
    modDatabase::SetDatabaseDialog(nullptr);
}

TEST_F(DatabaseDialogTest, OpenDatabaseSettingsIsModalWithoutOwner) {
    SetCache("DBHOST", true, "", "");
    ModalDriver driver;
    driver.Then("frmDatabase", [](QWidget* form) {
        EXPECT_EQ(form->parentWidget(), nullptr);
        EXPECT_FALSE(modMain::ChecksAllowed);
        Child<QPushButton>(form, "CancelButton")->click();
    });
    telwick::dialogs::OpenDatabaseSettings();
    EXPECT_TRUE(driver.done());
    EXPECT_TRUE(modMain::ChecksAllowed);
}

// The login round trip on a database that checks it: PostgreSQL.
class LoginRoundTrip : public DbTest {
protected:
    TestDatabase::Options DatabaseOptions() const override {
        TestDatabase::Options o;
        o.writeSettings = false;
        return o;
    }
};

TEST_P(LoginRoundTrip, StoredProtectedAndReadBackByCheckDb) {
    modDatabase::Reset();
    modCrypt::SetPassphrase();
    modMain::ChecksAllowed = true;
    {
        frmDatabase form;
        Child<QLineEdit>(&form, "txtServer")->setText(QString::fromStdString(db().server()));
        Child<QRadioButton>(&form, "optUser_1")->click();
        Child<QLineEdit>(&form, "txtUsername")->setText(QString::fromStdString(db().user()));
        Child<QLineEdit>(&form, "txtPassword")->setText(QString::fromStdString(db().password()));
        Child<QPushButton>(&form, "OKButton")->click();
    }
    if (!db().user().empty()) {
        EXPECT_EQ(modRegistry::GetSetting("Username").find(db().user()), std::string::npos);
        EXPECT_EQ(modRegistry::GetSetting("Password").find(db().password()), std::string::npos);
    }
    modDatabase::Reset();  // a new process: only the hive is left
    EXPECT_TRUE(modDatabase::CheckDB());
    EXPECT_EQ(modDatabase::DBUsername, db().user());
    EXPECT_EQ(modDatabase::DBPassword, db().password());
    modDatabase::Reset();
}

TELWICK_INSTANTIATE_DB_TEST(LoginRoundTrip);

}  // namespace
