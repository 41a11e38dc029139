// The identity of a file: which file a path names, so that a file removed or
// replaced by another under the same name is noticed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace telwick::platform {

struct FileId {
    uint64_t volume = 0;  // the device or volume the file lives on
    uint64_t index = 0;   // the file's number on that volume
    bool operator==(const FileId&) const = default;
};

// The identity of the regular file that path (UTF-8) names; nullopt when there
// is none: missing, a folder, or not reachable.
std::optional<FileId> IdentifyFile(const std::string& path);

}  // namespace telwick::platform
