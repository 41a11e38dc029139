// The three registry operations of the program over the registry store
// (platform/registry.h: the hive on Linux, the registry on Windows).
// Failures are silent: a read gives the empty text, a write or a key creation
// gives false.
#pragma once

#include <cstdint>
#include <string>

namespace modRegistry {

constexpr uint32_t HKEY_LOCAL_MACHINE = 0x80000002u;

constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;

constexpr uint32_t KEY_QUERY_VALUE = 1;
constexpr uint32_t KEY_SET_VALUE = 2;
constexpr uint32_t KEY_CREATE_SUB_KEY = 4;
constexpr uint32_t ReadBufferSize = 4096;

// The program's own key and the keys above it.
inline const std::string ProgramKey = "SOFTWARE\\Corvane\\Telwick";

// type is in/out: the stored type is written into it. Values are byte strings
// (one byte a character). A REG_SZ loses its last stored byte (its terminator),
// other types come back whole; 4096 bytes or more read as the empty text.
std::string GetRegistryValue(uint32_t root, const std::string& keyPath, const std::string& valueName,
                             uint32_t& type, const std::string& machine);
// The key must exist; never creates keys. A REG_SZ/REG_EXPAND_SZ is stored with
// one terminating zero byte, the empty text as a value of zero length.
bool SetRegistryValue(uint32_t root, const std::string& keyPath, const std::string& valueName, uint32_t type,
                      const std::string& value, const std::string& machine);
// Creates (or finds) exactly one level: parentPath must exist.
bool CreateRegistryKey(uint32_t root, const std::string& parentPath, const std::string& subKeyName,
                       const std::string& machine);

// Short forms for the program's own key (HKLM, REG_SZ, local machine).
std::string GetSetting(const std::string& valueName);
bool SetSetting(const std::string& valueName, const std::string& value);
// Creates SOFTWARE\Corvane and SOFTWARE\Corvane\Telwick, in this order.
void CreateProgramKey();

}  // namespace modRegistry
