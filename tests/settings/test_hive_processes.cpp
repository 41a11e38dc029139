// Several processes on one hive: the service and telwick-reg at once, a lock
// held by another process, a writer killed in the middle of its work.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "settings/hive.h"
#include "settings/registry.h"
#include "testenv.h"

extern char** environ;

using namespace modRegistry;
namespace hive = telwick::hive;
using telwick::test::ScopedHive;

namespace {

const std::string kKey = "SOFTWARE\\Corvane\\Telwick";

std::string RegBinary() {
    const char* dir = std::getenv("TELWICK_BINARY_DIR");
    return std::string(dir && *dir ? dir : TELWICK_BUILD_DIR) + "/telwick-reg";
}

// prefix + a, or prefix + a + "_" + b (built by appending: GCC 12 warns
// wrongly about chained string additions).
std::string Name(const char* prefix, int a, int b = -1) {
    std::string name = prefix;
    name += std::to_string(a);
    if (b >= 0) {
        name += '_';
        name += std::to_string(b);
    }
    return name;
}

pid_t Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? pid : -1;
}

int ExitCode(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs fn in a child process; its result becomes the exit code.
template <class Fn>
pid_t Fork(Fn fn) {
    pid_t pid = fork();
    if (pid == 0) _exit(fn());
    return pid;
}

class HiveProcesses : public ::testing::Test {
protected:
    void SetUp() override {
        CreateProgramKey();
        ASSERT_TRUE(SetSetting("stable", "here"));
    }
    ScopedHive hive_;
};

}  // namespace

TEST_F(HiveProcesses, WritersAtOnceLoseNothingAndReadersNeverSeeAGap) {
    constexpr int kWriters = 3, kEach = 25;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        children.push_back(Fork([w] {
            int failed = 0;
            for (int j = 0; j < kEach; ++j) {
                const std::string name = Name("w", w, j);
                if (!SetSetting(name, name)) ++failed;
                if (!CreateRegistryKey(HKEY_LOCAL_MACHINE, kKey, name, "")) ++failed;
            }
            return failed;
        }));
    }
    // telwick-reg writes into the same key meanwhile.
    for (int r = 0; r < 3; ++r)
        children.push_back(Spawn({RegBinary(), "add", "HKLM\\" + kKey, "/v", Name("reg", r), "/d", Name("by telwick-reg ", r), "/f"}));
    // This process reads all the while: a busy hive must be waited for, never
    // taken for an empty value.
    int reads = 0, gaps = 0;
    auto alive = [&] {
        for (pid_t p : children) {
            siginfo_t info{};
            if (waitid(P_PID, static_cast<id_t>(p), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0)
                return true;
        }
        return false;
    };
    while (alive()) {
        ++reads;
        if (GetSetting("stable") != "here") ++gaps;
    }
    for (pid_t p : children) EXPECT_EQ(ExitCode(p), 0);
    EXPECT_EQ(gaps, 0) << "of " << reads << " reads";
    for (int w = 0; w < kWriters; ++w)
        for (int j = 0; j < kEach; ++j) {
            const std::string name = Name("w", w, j);
            EXPECT_EQ(GetSetting(name), name);
            EXPECT_EQ(hive::KeyExists(HKEY_LOCAL_MACHINE, kKey + "\\" + name), hive::Status::Ok) << name;
        }
    for (int r = 0; r < 3; ++r) EXPECT_EQ(GetSetting(Name("reg", r)), Name("by telwick-reg ", r));
}

TEST_F(HiveProcesses, ALockHeldElsewhereIsWaitedFor) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const std::string path = hive_.path();
    pid_t holder = Fork([&] {
        sqlite3* db = nullptr;
        if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return 2;
        if (sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK) return 3;
        if (write(ready[1], "x", 1) != 1) return 4;
        usleep(600 * 1000);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return 0;
    });
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    close(ready[1]);
    // Both wait for the lock (held for a good while yet) instead of failing.
    EXPECT_EQ(GetSetting("stable"), "here");
    EXPECT_TRUE(SetSetting("after", "1"));
    EXPECT_EQ(ExitCode(holder), 0);
    EXPECT_EQ(GetSetting("after"), "1");
}

TEST_F(HiveProcesses, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewValue) {
    const std::string a(3000, 'A'), b(3000, 'B');
    ASSERT_TRUE(SetSetting("big", a));
    for (int delayUs : {0, 300, 1000, 2500, 5000, 9000, 15000}) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t writer = Fork([&] {
            close(ready[0]);
            for (int i = 0;; ++i) {
                SetSetting("big", i % 2 ? a : b);
                CreateRegistryKey(HKEY_LOCAL_MACHINE, kKey, Name("k", i % 5), "");
                if (i == 0 && write(ready[1], "x", 1) != 1) return 1;
            }
        });
        close(ready[1]);
        char c;
        ASSERT_EQ(read(ready[0], &c, 1), 1);
        close(ready[0]);
        usleep(static_cast<useconds_t>(delayUs));
        kill(writer, SIGKILL);
        EXPECT_EQ(ExitCode(writer), 128 + SIGKILL);
        EXPECT_EQ(hive::Verify(), hive::Status::Ok) << hive::LastError();
        std::string v = GetSetting("big");
        EXPECT_TRUE(v == a || v == b) << "after " << delayUs << " us: " << v.size() << " bytes";
        EXPECT_EQ(GetSetting("stable"), "here");
    }
}
