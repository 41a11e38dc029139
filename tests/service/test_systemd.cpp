// The systemd service control: the unit it writes, installing and removing it
// with a stand-in systemctl script, and the readiness messages.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "service/posix/SystemdService.h"
#include "service/posix/stderrlines.h"
#include "support/datagram.h"
#include "support/testenv.h"

namespace systemd = telwick::service::systemd;
using telwick::test::ScopedEnv;
using telwick::test::TempDir;

using telwick::test::ReadFile;

namespace {}  // namespace

TEST(SystemdUnit, ExecPathStaysOneWordAndUnchanged) {
    const std::pair<std::string, std::string> cases[] = {
        {"/usr/bin/telwick", "/usr/bin/telwick"},        {"/opt/my apps/telwick", "\"/opt/my apps/telwick\""},
        {"/opt/100%/telwick", "\"/opt/100%%/telwick\""}, {"/opt/$HOME/telwick", "\"/opt/$$HOME/telwick\""},
        {"/opt/a\"b\\c", "\"/opt/a\\\"b\\\\c\""},
    };
    for (const auto& [path, written] : cases) EXPECT_EQ(systemd::QuoteExecPath(path), written) << path;
}

TEST(SystemdUnit, NamesTheServiceAndWaitsForItsReadiness) {
    for (bool user : {false, true}) {
        const std::string text = systemd::UnitText("/srv/telwick", user);
        EXPECT_NE(text.find("\nDescription=Corvane Monitoring Service\n"), std::string::npos);
        EXPECT_NE(text.find("\nType=notify\n"), std::string::npos);
        EXPECT_NE(text.find("\nExecStart=/srv/telwick\n"), std::string::npos);
        EXPECT_NE(text.find(user ? "WantedBy=default.target" : "WantedBy=multi-user.target"), std::string::npos);
        // systemd makes the system service's runtime folder; a user's has $XDG_RUNTIME_DIR.
        EXPECT_EQ(text.find("\nRuntimeDirectory=telwick\nRuntimeDirectoryMode=0700\n") != std::string::npos, !user);
    }
}

class SystemdInstall : public ::testing::Test {
protected:
    TempDir dir;
    std::string units = dir.file("units/nested");
    std::string log = dir.file("systemctl.log");
    std::string script = dir.file("systemctl");
    ScopedEnv unitDir{"TELWICK_UNIT_DIR", units};
    ScopedEnv systemctl{"TELWICK_SYSTEMCTL", script};
    std::string prefix = systemd::UserUnit() ? "--user " : "";

    void SetUp() override {
        // Notes its arguments; fails the call that names $FAIL_ON.
        std::ofstream(script) << "#!/bin/sh\necho \"$*\" >> '" << log << "'\n"
                              << "[ -n \"$FAIL_ON\" ] && case \"$*\" in *\"$FAIL_ON\"*) exit 1;; esac\nexit 0\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    }
    std::string Calls() { return ReadFile(log); }
    std::string Unit() { return units + "/telwick.service"; }
};

TEST_F(SystemdInstall, WritesTheUnitReloadsAndEnables) {
    telwick::service::SystemdService service;
    ASSERT_TRUE(service.Install());
    EXPECT_NE(ReadFile(Unit()).find("ExecStart=" + systemd::QuoteExecPath(systemd::ExecutablePath()) + "\n"),
              std::string::npos);
    EXPECT_EQ(Calls(), prefix + "daemon-reload\n" + prefix + "enable telwick.service\n");

    ASSERT_TRUE(service.Uninstall());
    EXPECT_FALSE(std::filesystem::exists(Unit()));
    EXPECT_EQ(Calls(), prefix + "daemon-reload\n" + prefix + "enable telwick.service\n" + prefix +
                           "disable telwick.service\n" + prefix + "daemon-reload\n");
}

TEST_F(SystemdInstall, AFailingServiceManagerFailsTheRequest) {
    telwick::service::SystemdService service;
    {
        ScopedEnv fail("FAIL_ON", "enable");
        EXPECT_FALSE(service.Install());
    }
    {
        ScopedEnv fail("FAIL_ON", "disable");
        EXPECT_FALSE(service.Uninstall());
    }
}

TEST_F(SystemdInstall, NothingInstalledCannotBeUninstalled) {
    telwick::service::SystemdService service;
    EXPECT_FALSE(service.Uninstall());
    EXPECT_EQ(Calls(), "");
}

TEST_F(SystemdInstall, WithoutAServiceManagerTheUnitFileIsAll) {
    ScopedEnv none("TELWICK_SYSTEMCTL", "");
    telwick::service::SystemdService service;
    EXPECT_TRUE(service.Install());
    EXPECT_TRUE(std::filesystem::exists(Unit()));
    EXPECT_TRUE(service.Uninstall());
    EXPECT_EQ(Calls(), "");
}

TEST(SystemdNotify, ReachesPathAndAbstractSockets) {
    TempDir dir;
    const std::string abstractName = "@telwick-test-" + std::to_string(getpid());
    for (const std::string& name : {dir.file("notify.sock"), abstractName}) {
        telwick::test::DatagramListener manager(name);
        EXPECT_TRUE(systemd::Notify(name, "READY=1\nSTATUS=Running"));
        EXPECT_EQ(manager.ReceiveQueued().value_or(""), "READY=1\nSTATUS=Running");
    }
    EXPECT_FALSE(systemd::Notify("", "READY=1"));
    EXPECT_FALSE(systemd::Notify(dir.file("nobody.sock"), "READY=1"));
}

TEST(QtMessages, DriverWarningsCoveredByOwnEntriesAreDroppedOthersBecomeOurLines) {
    using telwick::service::CoveredByOwnEntries;
    struct Case {
        QtMsgType type;
        const char* message;
        bool covered;
    };
    for (const Case& c : {
             Case{QtWarningMsg, "qMakeField: Unable to describe column 1\n\tError: SQLDescribeColW", true},
             Case{QtWarningMsg, "QODBCResult::exec: Unable to execute statement: \"could not receive data\"",
                  true},
             Case{QtWarningMsg, "qGetStringData: Error while fetching data (-1)", true},
             Case{QtCriticalMsg, "QODBCDriver::open: Unable to connect", false},  // not a warning
             Case{QtWarningMsg, "QSqlDatabasePrivate::removeDatabase: connection 'x' is still in use", false},
             Case{QtWarningMsg, "QStandardPaths: XDG_RUNTIME_DIR not set", false},
         }) {
        EXPECT_EQ(CoveredByOwnEntries(c.type, c.message), c.covered) << c.message;
    }
    EXPECT_EQ(telwick::service::QtMessageLine("a\nb\x1b"), "Telwick: Qt: a\\nb\\x1B\n");
}
