// What the settings layer costs: hex conversion of a stored login, one read of
// a value from a populated hive (open, look up, close), and unprotecting a login.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "settings/crypt.h"
#include "settings/registry.h"

namespace {

std::string Bytes(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 37 + 11) & 0xff);
    return s;
}

void BM_StringToHex(benchmark::State& state) {
    const std::string bytes = Bytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(modHex::StringToHex(bytes, " "));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
// 35 bytes: the cipher of an empty user name; 4095: the largest stored string.
BENCHMARK(BM_StringToHex)->Arg(35)->Arg(4095);

void BM_HexToString(benchmark::State& state) {
    const std::string hex = modHex::StringToHex(Bytes(static_cast<size_t>(state.range(0))), " ");
    for (auto _ : state) benchmark::DoNotOptimize(modHex::HexToString(hex, 1));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_HexToString)->Arg(35)->Arg(4095);

// A private hive shaped like a configured installation: the settings, the
// protected login and 50 configuration records.
class PopulatedHive : public benchmark::Fixture {
public:
    void SetUp(const benchmark::State&) override {
        if (!path_.empty()) return;
        std::string tmpl = (std::filesystem::temp_directory_path() / "telwick-bench-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) std::abort();
        dir_ = tmpl;
        path_ = dir_ + "/registry.db";
        setenv("TELWICK_REGISTRY", path_.c_str(), 1);
        modRegistry::CreateProgramKey();
        modCrypt::SetPassphrase();
        modRegistry::SetSetting("Checkinterval", "60000");
        modRegistry::SetSetting("Language", "1");
        modRegistry::SetSetting("Server", "sql01.corvane.example");
        modRegistry::SetSetting("Trusted_Connection", "No");
        modRegistry::SetSetting("Username", modCrypt::ProtectValue("USR", "monitor"));
        modRegistry::SetSetting("Password", modCrypt::ProtectValue("PWD", "s3cret-pass"));
        for (int i = 0; i < 50; ++i)
            modRegistry::SetSetting(
                "config" + std::to_string(i),
                std::to_string(i) + ";0;5;1;1;0;C:\\Scripts\\alert" + std::to_string(i) + ".cmd;");
    }
    ~PopulatedHive() override {
        if (!dir_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir_, ec);
        }
    }

protected:
    std::string dir_, path_;
};

BENCHMARK_DEFINE_F(PopulatedHive, GetRegistryValue)(benchmark::State& state) {
    for (auto _ : state) {
        uint32_t type = modRegistry::REG_SZ;
        benchmark::DoNotOptimize(modRegistry::GetRegistryValue(modRegistry::HKEY_LOCAL_MACHINE,
                                                               modRegistry::ProgramKey, "config37", type, ""));
    }
}
BENCHMARK_REGISTER_F(PopulatedHive, GetRegistryValue);

BENCHMARK_DEFINE_F(PopulatedHive, GetRegistryValueMissing)(benchmark::State& state) {
    for (auto _ : state) {
        uint32_t type = modRegistry::REG_SZ;
        benchmark::DoNotOptimize(modRegistry::GetRegistryValue(modRegistry::HKEY_LOCAL_MACHINE,
                                                               modRegistry::ProgramKey, "config50", type, ""));
    }
}
BENCHMARK_REGISTER_F(PopulatedHive, GetRegistryValueMissing);

BENCHMARK_DEFINE_F(PopulatedHive, ReadProtectedPassword)(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(modCrypt::RevealValue(modRegistry::GetSetting("Password")));
}
BENCHMARK_REGISTER_F(PopulatedHive, ReadProtectedPassword);

}  // namespace

BENCHMARK_MAIN();
