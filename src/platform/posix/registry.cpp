// The registry store of Linux: the hive.
#include "platform/registry.h"

#include "platform/posix/hive.h"
#include "platform/posix/hivesecurity.h"

namespace telwick::platform::registry {

Status ReadValue(uint32_t root, const std::string& path, const std::string& name, Value& out) {
    return hive::ReadValue(root, path, name, out);
}

Status WriteValue(uint32_t root, const std::string& path, const std::string& name, uint32_t type,
                  const std::string& data) {
    return hive::WriteValue(root, path, name, type, data);
}

Status CreateKey(uint32_t root, const std::string& parent, const std::string& subKey) {
    return hive::CreateKey(root, parent, subKey);
}

Status KeyExists(uint32_t root, const std::string& path) { return hive::KeyExists(root, path); }

Status ListKey(uint32_t root, const std::string& path, std::vector<Value>& values,
               std::vector<std::string>& subKeys) {
    return hive::ListKey(root, path, values, subKeys);
}

Status WriteValues(uint32_t root, const std::string& path, const std::vector<Value>& values,
                   const std::vector<std::string>& removals) {
    return hive::WriteValues(root, path, values, removals);
}

Status DeleteKey(uint32_t root, const std::string& path) { return hive::DeleteKey(root, path); }

Status Verify() { return hive::Verify(); }

const std::string& LastError() { return hive::LastError(); }

std::string StoreName() { return "the settings hive " + hive::HivePath(); }

bool SettingsAreSafe(std::string& why) { return HiveIsSafe(hive::HivePath(), why); }

}  // namespace telwick::platform::registry
