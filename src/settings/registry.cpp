#include "settings/registry.h"

#include "settings/errors.h"
#include "platform/registry.h"

namespace modRegistry {

namespace store = telwick::platform::registry;

std::string GetRegistryValue(uint32_t root, const std::string& keyPath, const std::string& valueName,
                             uint32_t& type, const std::string& machine) {
    std::string result;
    modMain::Attempt("modRegistry", "GetRegistryValue", [&] {
        result.clear();
        // No registry of another computer can be reached from here.
        if (!machine.empty()) return;
        store::Value value;
        if (store::ReadValue(root, keyPath, valueName, value) != store::Status::Ok) return;
        type = value.type;
        if (value.data.size() > ReadBufferSize) return;  // does not fit the buffer
        // The cut goes by length: a string loses its last byte (its terminator,
        // whatever is stored there), every other type comes back whole.
        size_t n = value.data.size();
        if (value.type == REG_SZ) {
            if (n == 0) return;
            --n;
        }
        result.assign(value.data, 0, n);
    });
    return result;
}

bool SetRegistryValue(uint32_t root, const std::string& keyPath, const std::string& valueName, uint32_t type,
                      const std::string& value, const std::string& machine) {
    bool written = false;
    modMain::Attempt("modRegistry", "SetRegistryValue", [&] {
        written = false;
        if (!machine.empty()) return;
        std::string data = value;
        if ((type == REG_SZ || type == REG_EXPAND_SZ) && !data.empty()) data.push_back('\0');
        written = store::WriteValue(root, keyPath, valueName, type, data) == store::Status::Ok;
    });
    return written;
}

bool CreateRegistryKey(uint32_t root, const std::string& parentPath, const std::string& subKeyName,
                       const std::string& machine) {
    bool made = false;
    modMain::Attempt("modRegistry", "CreateRegistryKey", [&] {
        made = false;
        if (!machine.empty()) return;
        made = store::CreateKey(root, parentPath, subKeyName) == store::Status::Ok;
    });
    return made;
}

std::string GetSetting(const std::string& valueName) {
    uint32_t type = REG_SZ;
    return GetRegistryValue(HKEY_LOCAL_MACHINE, ProgramKey, valueName, type, "");
}

bool SetSetting(const std::string& valueName, const std::string& value) {
    return SetRegistryValue(HKEY_LOCAL_MACHINE, ProgramKey, valueName, REG_SZ, value, "");
}

void CreateProgramKey() {
    CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE", "Corvane", "");
    CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane", "Telwick", "");
}

}  // namespace modRegistry
