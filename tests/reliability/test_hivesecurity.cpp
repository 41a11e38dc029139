// Whether a hive can be trusted by a service that runs as root: files and
// folders of other owners and modes, made for real in a private folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

#include "platform/hardening.h"
#include "reliability/harness.h"
#include "platform/posix/hivesecurity.h"

namespace telwick::reliability {
namespace {

namespace fs = std::filesystem;
constexpr uid_t Nobody = 65534;
constexpr gid_t NoGroup = 65534;

struct Layout {
    const char* name;
    // Prepares base/a/b/registry.db (or not) and returns the hive path.
    std::function<std::string(const std::string& base)> make;
    bool safe;
    const char* hint;  // a piece of the message when unsafe
};
void PrintTo(const Layout& l, std::ostream* os) { *os << l.name; }

std::string MakeTree(const std::string& base, bool withFile = true) {
    fs::create_directories(base + "/a/b");
    chmod((base + "/a").c_str(), 0755);
    chmod((base + "/a/b").c_str(), 0700);
    std::string hive = base + "/a/b/registry.db";
    if (withFile) WriteFile(hive, "x", 0600);
    return hive;
}

class HiveSecurity : public ::testing::TestWithParam<Layout> {};

TEST_P(HiveSecurity, JudgesOwnersAndModes) {
    Describe(std::string("running as root, hive layout ") + GetParam().name);
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make files of other owners";
    test::TempDir dir;
    std::string hive = GetParam().make(dir.path());
    std::string why;
    bool safe = HiveIsSafe(hive, why);
    EXPECT_EQ(safe, GetParam().safe) << why;
    const size_t colon = why.find(": ");
    Outcome(safe ? "accepted" : "refused: " + (colon == std::string::npos ? why : why.substr(colon + 2)));
    if (GetParam().safe) {
        EXPECT_TRUE(why.empty()) << why;
    } else {
        EXPECT_NE(why.find(GetParam().hint), std::string::npos) << why;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, HiveSecurity,
    ::testing::Values(Layout{"RootOnly", [](const std::string& b) { return MakeTree(b); }, true, ""},
                      Layout{"FileWritableByAll",
                             [](const std::string& b) {
                                 auto h = MakeTree(b);
                                 chmod(h.c_str(), 0666);
                                 return h;
                             },
                             false, "chmod o-w"},
                      Layout{"FileWritableByRootGroup",
                             [](const std::string& b) {
                                 auto h = MakeTree(b);
                                 chmod(h.c_str(), 0660);
                                 return h;
                             },
                             true, ""},
                      Layout{"FileWritableByOtherGroup",
                             [](const std::string& b) {
                                 auto h = MakeTree(b);
                                 chown(h.c_str(), 0, NoGroup);
                                 chmod(h.c_str(), 0660);
                                 return h;
                             },
                             false, "chmod g-w"},
                      Layout{"FileOfAnotherUser",
                             [](const std::string& b) {
                                 auto h = MakeTree(b);
                                 chown(h.c_str(), Nobody, 0);
                                 return h;
                             },
                             false, "chown root"},
                      Layout{"OwnFolderWritableByAll",
                             [](const std::string& b) {
                                 auto h = MakeTree(b);
                                 chmod((b + "/a/b").c_str(), 0777);
                                 return h;
                             },
                             false, "chmod o-w"},
                      Layout{"OwnFolderSticky",  // others could plant a journal beside the hive
                             [](const std::string& b) {
                                 auto h = MakeTree(b);
                                 chmod((b + "/a/b").c_str(), 01777);
                                 return h;
                             },
                             false, "set TELWICK_REGISTRY"},
                      Layout{"UpperFolderSticky",
                             [](const std::string& b) {
                                 auto h = MakeTree(b);
                                 chmod((b + "/a").c_str(), 01777);
                                 return h;
                             },
                             true, ""},
                      Layout{"UpperFolderWritableByAll",
                             [](const std::string& b) {
                                 auto h = MakeTree(b);
                                 chmod((b + "/a").c_str(), 0777);
                                 return h;
                             },
                             false, "/a can be written by every user"},
                      Layout{"UpperFolderOfAnotherUser",
                             [](const std::string& b) {
                                 auto h = MakeTree(b);
                                 chown((b + "/a").c_str(), Nobody, NoGroup);
                                 return h;
                             },
                             false, "chown root"},
                      Layout{"MissingFileInSafeFolder", [](const std::string& b) { return MakeTree(b, false); },
                             true, ""},
                      Layout{"MissingFolderUnderSticky",  // another user could make the folder first
                             [](const std::string& b) {
                                 MakeTree(b, false);
                                 chmod((b + "/a").c_str(), 01777);
                                 return b + "/a/new/registry.db";
                             },
                             false, "set TELWICK_REGISTRY"},
                      Layout{"WritableJournal",
                             [](const std::string& b) {
                                 auto h = MakeTree(b);
                                 WriteFile(h + "-journal", "", 0666);
                                 return h;
                             },
                             false, "registry.db-journal"},
                      Layout{"LinkIntoUnsafeFolder",
                             [](const std::string& b) {
                                 auto h = MakeTree(b, false);
                                 fs::create_directories(b + "/open");
                                 chmod((b + "/open").c_str(), 0777);
                                 WriteFile(b + "/open/real.db", "x", 0600);
                                 fs::create_symlink(b + "/open/real.db", h);
                                 return h;
                             },
                             false, "/open can be written"},
                      Layout{"DanglingLink",
                             [](const std::string& b) {
                                 auto h = MakeTree(b, false);
                                 fs::create_symlink(b + "/nowhere/real.db", h);
                                 return h;
                             },
                             false, "link to a missing file"},
                      Layout{"NotARegularFile",
                             [](const std::string& b) {
                                 auto h = MakeTree(b, false);
                                 fs::create_directories(h);
                                 return h + "/";
                             },
                             false, "names a folder"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HiveSecurityUser, AnotherServiceUserMayOwnItsHive) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make files of other owners";
    test::TempDir dir;
    std::string hive = MakeTree(dir.path());
    chown((dir.path() + "/a/b").c_str(), Nobody, NoGroup);
    chown(hive.c_str(), Nobody, NoGroup);
    std::string why;
    EXPECT_TRUE(HiveIsSafeFor(hive, Nobody, why)) << why;
    EXPECT_FALSE(HiveIsSafeFor(hive, 1000, why));
    EXPECT_NE(why.find("chown"), std::string::npos) << why;
}

TEST(HiveSecurityUser, RelativePathIsJudgedFromTheWorkingFolder) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make files of other owners";
    test::TempDir dir;
    std::string hive = MakeTree(dir.path());
    chmod((dir.path() + "/a/b").c_str(), 0777);
    auto old = fs::current_path();
    fs::current_path(dir.path() + "/a");
    std::string why;
    bool safe = HiveIsSafe("b/registry.db", why);
    fs::current_path(old);
    EXPECT_FALSE(safe);
    EXPECT_NE(why.find(dir.path() + "/a/b "), std::string::npos) << why;
}

TEST(HiveSecurityUser, NotJudgedWhenNotRunningAsRoot) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to change to another user";
    test::TempDir dir;
    std::string hive = MakeTree(dir.path());
    chmod(hive.c_str(), 0666);
    test::ChildProcess child = test::ChildProcess::Fork([&] {
        if (setuid(Nobody) != 0) return 2;
        std::string why;
        return HiveIsSafe(hive, why) && why.empty() ? 0 : 1;
    });
    EXPECT_EQ(child.Wait(), 0);
}

// A process that holds the login in clear leaves no core dump behind, with
// and without the protection (where the kernel writes cores into the working
// folder, a process without it does leave one: the test can see a dump).
TEST(ProcessSecrets, NoCoreDumpOnceProtected) {
    const std::string pattern = ReadFile("/proc/sys/kernel/core_pattern");
    for (bool protect : {false, true}) {
        test::TempDir dir;
        pid_t pid = fork();
        if (pid == 0) {
            if (chdir(dir.path().c_str()) != 0) _exit(2);
            rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
            setrlimit(RLIMIT_CORE, &unlimited);
            if (protect) {
                if (!ProtectProcessSecrets() || prctl(PR_GET_DUMPABLE) != 0) _exit(3);
            }
            signal(SIGABRT, SIG_DFL);
            abort();
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child did not get to abort: " << status;
        bool core = false;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (entry.path().filename().string().rfind("core", 0) == 0) core = true;
        if (protect) {
            EXPECT_FALSE(core) << "a protected process left a core dump";
            EXPECT_FALSE(WCOREDUMP(status));
        } else if (pattern.rfind("core", 0) == 0 && core) {
            Figure("unprotected_process_dumps_core", "yes");
        }
    }
}

}  // namespace
}  // namespace telwick::reliability
