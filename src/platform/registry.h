// The registry store: where the program keeps its settings. Keys under a
// predefined root (HKEY_LOCAL_MACHINE is 0x80000002), paths of names separated
// by single backslashes (the empty path is the root itself), typed values whose
// data are bytes. On Linux the store is the hive, one SQLite file; on Windows
// it is the system's registry.
//
// Texts are UTF-8 inside the program. Data of a string type (REG_SZ,
// REG_EXPAND_SZ, REG_MULTI_SZ) are UTF-8 bytes and keep whatever terminator was
// stored with them: a REG_SZ written by the program ends in one zero byte, and
// one stored without it comes back without it. Data of any other type are the
// stored bytes. Names of keys and values compare without regard to case.
//
// No call keeps a handle open after it returns, and none throws: each answers
// with a Status, and LastError() tells in words what the last failed call of
// the thread ran into.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace telwick::platform::registry {

enum class Status {
    Ok,
    NotFound,  // key (or value) missing
    Denied,    // the key may not be changed or removed, or the root is unknown
    Invalid,   // a name that no key or value may have, or data that cannot be stored
    Damaged,   // the store itself is corrupt
    Failed,    // the store could not be read or written (busy too long, I/O, permissions)
};

struct Value {
    std::string name;
    uint32_t type = 0;
    std::string data;  // the stored bytes, terminators included
};

// Reads one value. NotFound for a missing key or value.
Status ReadValue(uint32_t root, const std::string& path, const std::string& name, Value& out);

// Writes one value into an existing key; never creates keys.
Status WriteValue(uint32_t root, const std::string& path, const std::string& name, uint32_t type,
                  const std::string& data);

// Creates or finds the key subKey directly below parent, which must exist. A
// subKey with a backslash is Invalid (one level at a time); an empty one names
// the parent itself.
Status CreateKey(uint32_t root, const std::string& parent, const std::string& subKey);

Status KeyExists(uint32_t root, const std::string& path);

// The values and the names of the direct subkeys of a key.
Status ListKey(uint32_t root, const std::string& path, std::vector<Value>& values,
               std::vector<std::string>& subKeys);

// Writes several values of one key and removes others in one step; the key and
// the keys above it are made when missing, and removing a value that is not
// there is no failure. The hive stores all of it or nothing. The Windows
// registry has no such step: there the values are written one after the other,
// and a failure in the middle leaves the ones before it written.
Status WriteValues(uint32_t root, const std::string& path, const std::vector<Value>& values,
                   const std::vector<std::string>& removals = {});

// Removes a key with all its values and subkeys. A root and
// HKEY_LOCAL_MACHINE\SOFTWARE are Denied.
Status DeleteKey(uint32_t root, const std::string& path);

// Checks the store as a whole: Damaged when it is corrupt, Ok otherwise (and
// always on Windows, where the system keeps the registry whole).
Status Verify();

// What the last failed call of this thread ran into, in words.
const std::string& LastError();

// Where the settings live, for messages: "the settings hive /var/lib/..." or
// "the registry key HKEY_LOCAL_MACHINE\SOFTWARE\Corvane\Telwick".
std::string StoreName();

// Whether the program's settings can be trusted by the service that reads
// them. They name the programs the service starts, so a store that a user other
// than the service's own account (root; SYSTEM and the Administrators) can
// change would let that user run any program with the service's rights. False
// then, and why says what is wrong and how to fix it. On Linux, when not running
// as root, always true: a user's own hive is that user's business.
bool SettingsAreSafe(std::string& why);

}  // namespace telwick::platform::registry
