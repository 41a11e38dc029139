// Several processes on one hive: the service and telwick-reg at once, a lock
// held by another process, a writer killed in the middle of its work.
#include <gtest/gtest.h>

#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/hive.h"
#include "settings/registry.h"
#include "support/process.h"
#include "support/testenv.h"

using namespace modRegistry;
namespace hive = telwick::hive;
using telwick::test::ChildOptions;
using telwick::test::ChildProcess;
using telwick::test::ScopedHive;

namespace {

const std::string kKey = "SOFTWARE\\Corvane\\Telwick";

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

// telwick-reg with its standard output on /dev/null.
ChildProcess Reg(const std::vector<std::string>& args) {
    std::vector<std::string> argv{TELWICK_REG_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildOptions options;
    options.stdoutFile = "/dev/null";
    return ChildProcess(argv, options);
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
    std::vector<ChildProcess> children;
    for (int w = 0; w < kWriters; ++w) {
        children.push_back(ChildProcess::Fork([w] {
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
        children.push_back(
            Reg({"add", "HKLM\\" + kKey, "/v", Name("reg", r), "/d", Name("by telwick-reg ", r), "/f"}));
    // This process reads all the while: a busy hive must be waited for, never
    // taken for an empty value.
    int reads = 0, gaps = 0;
    auto alive = [&] {
        for (ChildProcess& child : children)
            if (child.Running()) return true;
        return false;
    };
    while (alive()) {
        ++reads;
        if (GetSetting("stable") != "here") ++gaps;
    }
    for (ChildProcess& child : children) EXPECT_EQ(child.Wait(), 0);
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
    ChildProcess holder = ChildProcess::Fork([&] {
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
    EXPECT_EQ(holder.Wait(), 0);
    EXPECT_EQ(GetSetting("after"), "1");
}

TEST_F(HiveProcesses, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewValue) {
    const std::string a(3000, 'A'), b(3000, 'B');
    ASSERT_TRUE(SetSetting("big", a));
    for (int delayUs : {0, 300, 1000, 2500, 5000, 9000, 15000}) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        ChildProcess writer = ChildProcess::Fork([&] {
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
        writer.Signal(SIGKILL);
        EXPECT_EQ(writer.Wait(), 128 + SIGKILL);
        EXPECT_EQ(hive::Verify(), hive::Status::Ok) << hive::LastError();
        std::string v = GetSetting("big");
        EXPECT_TRUE(v == a || v == b) << "after " << delayUs << " us: " << v.size() << " bytes";
        EXPECT_EQ(GetSetting("stable"), "here");
    }
}
