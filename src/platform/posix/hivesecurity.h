// Whether the hive can be trusted by a service that runs as root.
//
// The hive names the batch program that the service starts for every matching
// event. When root reads a hive that another local user can change, that user
// can make root run any program of theirs. These checks find such a hive before
// it is used.
#pragma once

#include <sys/types.h>

#include <string>

namespace telwick {

// Running as root (effective uid 0): false when the hive file, a journal file
// beside it, or any folder above it is owned by a user other than root, or can
// be written by another user (group or other write permission; a folder with
// the sticky bit counts as protected only above the hive's own folder, because
// another user could plant the hive or its journal in a shared folder). why
// then says what is wrong and how to fix it (chown/chmod). A hive that does not
// exist yet is judged by the folders it would be created in.
// Not running as root: always true (a user's own hive is that user's business).
bool HiveIsSafe(const std::string& hivePath, std::string& why);

// The same check for a service that runs as the given user: files and folders
// must be owned by that user or by root and writable by nobody else. HiveIsSafe
// is HiveIsSafeFor(path, 0, why) when running as root.
bool HiveIsSafeFor(const std::string& hivePath, uid_t trustedUid, std::string& why);

}  // namespace telwick
