// telwick-reg's command line: any arguments give exit status 0 or 1 (with one
// line on standard error), never a crash, and what "add" writes as REG_SZ reads
// back identically.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "reg/reg.h"
#include "settings/registry.h"

namespace {

std::string hivePath;
int runs = 0;

std::string Folder() {
    if (const char* work = std::getenv("TELWICK_FUZZ_WORK")) return work;
    char tmpl[] = "/tmp/telwick-fuzz-XXXXXX";
    if (!mkdtemp(tmpl)) fuzz::Fail("no temporary folder");
    return tmpl;
}

int Run(const std::vector<std::string>& args, std::string& out, std::string& err) {
    std::istringstream in;
    std::ostringstream o, e;
    int status = telwick::reg::Run(args, in, o, e, false);
    out = o.str();
    err = e.str();
    return status;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hivePath = Folder() + "/registry.db";
    setenv("TELWICK_REGISTRY", hivePath.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A fresh hive now and then, so that it does not grow without end.
    if (++runs % 500 == 0) unlink(hivePath.c_str());
    if (size < 1) return 0;
    std::string out, err;

    if (data[0] & 1) {
        // Free arguments, separated by line feeds.
        std::vector<std::string> args;
        std::string text = fuzz::Text(data + 1, size - 1);
        for (size_t start = 0;;) {
            size_t nl = text.find('\n', start);
            args.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
            if (nl == std::string::npos) break;
            start = nl + 1;
        }
        int status = 0;
        fuzz::Expect(fuzz::FaultOf([&] { status = Run(args, out, err); }) == 0, "telwick-reg raised a fault");
        fuzz::Expect(status == 0 || status == 1, "exit status " + std::to_string(status));
        if (status == 1) {
            fuzz::Expect(!err.empty(), "exit status 1 without a message");
            fuzz::Expect(err.find('\n') == err.size() - 1, "the message is not one line: " + err);
        }
        return 0;
    }

    // add /t REG_SZ /d DATA writes exactly DATA.
    std::string value = fuzz::Text(data + 1, size - 1);
    if (value.find('\0') != std::string::npos || value.size() >= 4095) return 0;
    int status = Run({"add", "HKLM\\SOFTWARE\\Corvane\\Telwick", "/v", "Probe", "/t", "REG_SZ", "/d", value, "/f"},
                     out, err);
    fuzz::Expect(status == 0, "add failed: " + err);
    uint32_t type = modRegistry::REG_SZ;
    std::string back = modRegistry::GetRegistryValue(modRegistry::HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane\\Telwick",
                                                     "Probe", type, "");
    fuzz::Expect(type == modRegistry::REG_SZ, "the value is no longer a REG_SZ");
    fuzz::Expect(back == value, "what add wrote did not read back identically");
    return 0;
}
