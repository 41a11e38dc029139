// The hive: the registry store of Linux, one SQLite file with keys and typed
// values. Every call opens the file, works inside one transaction and closes it
// again, so no handle outlives a call and two processes can share one hive.
//
// Trees: each predefined root (HKEY_CLASSES_ROOT .. HKEY_CURRENT_CONFIG) is a
// tree of its own whose top level always exists; under HKEY_LOCAL_MACHINE the
// key SOFTWARE always exists as well, as on every Windows machine. These keys
// exist even before the file does, and they cannot be deleted.
//
// Names of keys and values keep their case and compare without regard to the
// case of the ASCII letters. A key path is a list of names separated by single
// backslashes; the empty path is the root itself.
//
// File: $TELWICK_REGISTRY, else /var/lib/telwick/registry.db for root and
// $XDG_STATE_HOME/telwick/registry.db (default ~/.local/state/telwick/...)
// for everyone else. It is made (mode 0600, missing folders 0700) by the first
// write that succeeds; reading a missing hive finds only the keys above. A file
// that is there but is no hive is never written to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace telwick::hive {

// The hive is this platform's registry store: the same answers and values.
using Status = platform::registry::Status;
using Value = platform::registry::Value;

// The root handle for a root name such as HKLM or HKEY_LOCAL_MACHINE (any case);
// 0 when the name is no root.
uint32_t RootFromName(const std::string& name);
// HKEY_LOCAL_MACHINE for 0x80000002 and so on; empty for an unknown handle.
std::string RootName(uint32_t root);

// The file behind the hive, from the environment (see above).
std::string HivePath();

// A text that says what went wrong in the last failed call of this thread
// ("file is not a database", the path, ...), for telwick-reg.
const std::string& LastError();

// Key existence.
Status KeyExists(uint32_t root, const std::string& path);

// The form in which two key or value names compare equal: case folded for
// every letter of a UTF-8 name (ASCII to lower case, as the hive stores it).
std::string FoldName(const std::string& name);

// Reads one value. NotFound for a missing key or value.
Status ReadValue(uint32_t root, const std::string& path, const std::string& name, Value& out);

// Writes one value into an existing key (never creates keys); data are stored
// as given.
Status WriteValue(uint32_t root, const std::string& path, const std::string& name, uint32_t type,
                  const std::string& data);

// Writes several values of one key and removes others, all in one transaction:
// all of it is stored, or none. The key and the keys above it are made when
// missing. Removing a value that is not there is no failure.
Status WriteValues(uint32_t root, const std::string& path, const std::vector<Value>& values,
                   const std::vector<std::string>& removals = {});

// Creates or finds the key subKey directly below parent; the parent must exist.
// An empty subKey names the parent itself.
Status CreateKey(uint32_t root, const std::string& parent, const std::string& subKey);

// Creates the key and every missing key above it. created tells whether the key
// itself was new.
Status CreateKeyPath(uint32_t root, const std::string& path, bool* created = nullptr);

// The values (in the order they were first written) and the names of the direct
// subkeys (in the order they were made) of a key.
Status ListKey(uint32_t root, const std::string& path, std::vector<Value>& values,
               std::vector<std::string>& subKeys);

// Removes one value; NotFound when it is not there.
Status DeleteValue(uint32_t root, const std::string& path, const std::string& name);

// Removes a key with all its values and subkeys. The roots and the keys that
// always exist are Denied.
Status DeleteKey(uint32_t root, const std::string& path);

// True for a root and for HKEY_LOCAL_MACHINE\SOFTWARE: keys that always exist.
bool IsPermanentKey(uint32_t root, const std::string& path);

// Checks the whole file (SQLite's quick check) when it exists; Ok for a missing
// file.
Status Verify();

}  // namespace telwick::hive
