#include "platform/posix/hivesecurity.h"

#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace telwick {

namespace {

std::string UserName(uid_t uid) {
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found)
        return "'" + std::string(found->pw_name) + "' (uid " + std::to_string(uid) + ")";
    return "uid " + std::to_string(uid);
}

std::string PlainUserName(uid_t uid) {
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found) return found->pw_name;
    return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
    std::vector<char> buf(16384);
    group gr{};
    group* found = nullptr;
    if (getgrgid_r(gid, &gr, buf.data(), buf.size(), &found) == 0 && found)
        return "'" + std::string(found->gr_name) + "' (gid " + std::to_string(gid) + ")";
    return "gid " + std::to_string(gid);
}

std::string Mode(mode_t mode) {
    char text[16];
    std::snprintf(text, sizeof(text), "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// The checks of one run: the user the service runs as, and what was found.
class Checker {
public:
    explicit Checker(uid_t trusted) : trusted_(trusted) {}

    // The hive file (or a journal beside it), when it exists.
    void File(const std::string& path, const char* what) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT)
                Problem(
                    "the " + std::string(what) + " " + path + " cannot be examined (" + std::strerror(errno) + ")",
                    "");
            return;
        }
        if (S_ISLNK(st.st_mode)) {
            Owner(path, st, what);
            struct stat target {};
            if (stat(path.c_str(), &target) != 0)
                Problem("the " + std::string(what) + " " + path + " is a link to a missing file",
                        "remove the link " + path);
            else if (!S_ISREG(target.st_mode))
                Problem("the " + std::string(what) + " " + path + " does not lead to a regular file", "");
            return;  // the file it leads to is checked on the resolved path
        }
        if (!S_ISREG(st.st_mode)) {
            Problem("the " + std::string(what) + " " + path + " is not a regular file", "");
            return;
        }
        Owner(path, st, what);
        Writable(path, st, what, true);
    }

    // A folder on the way to the hive. strict: another user must not be able to
    // add entries at all (the hive's own folder, or a folder whose next entry
    // is still missing); otherwise the sticky bit protects the entries of
    // others.
    void Folder(const std::string& path, const struct stat& st, bool strict) {
        if (S_ISLNK(st.st_mode)) {
            Owner(path, st, "link");
            return;
        }
        Owner(path, st, "folder");
        Writable(path, st, "folder", strict || !(st.st_mode & S_ISVTX));
    }

    bool ok() const { return problems_.empty(); }
    std::string Text() const {
        std::string text = "another user could change the hive and make the service run any program as " +
                           (trusted_ == 0 ? std::string("root") : PlainUserName(trusted_)) + ": ";
        for (size_t i = 0; i < problems_.size(); ++i) {
            if (i) text += "; ";
            text += problems_[i];
        }
        return text;
    }

private:
    void Owner(const std::string& path, const struct stat& st, const std::string& what) {
        if (st.st_uid == 0 || st.st_uid == trusted_) return;
        Problem("the " + what + " " + path + " is owned by user " + UserName(st.st_uid),
                "chown " + PlainUserName(trusted_) + " " + path);
    }

    void Writable(const std::string& path, const struct stat& st, const std::string& what, bool shared) {
        bool group = (st.st_mode & S_IWGRP) && st.st_gid != 0;
        bool other = (st.st_mode & S_IWOTH) != 0;
        if (!shared || (!group && !other)) return;
        std::string who = other ? "every user" : "the group " + GroupName(st.st_gid);
        std::string fix = std::string("chmod ") + (other && group ? "go-w " : other ? "o-w " : "g-w ") + path;
        if (S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX))
            fix = "set TELWICK_REGISTRY to a hive in a folder that only " +
                  (trusted_ == 0 ? std::string("root") : PlainUserName(trusted_)) + " can write, or " + fix;
        Problem("the " + what + " " + path + " can be written by " + who + " (mode " + Mode(st.st_mode) + ")",
                fix);
    }

    void Problem(const std::string& text, const std::string& fix) {
        std::string entry = fix.empty() ? text : text + " (fix: " + fix + ")";
        for (const auto& seen : problems_)
            if (seen == entry) return;
        problems_.push_back(entry);
    }

    uid_t trusted_;
    std::vector<std::string> problems_;
};

// Checks the file and every folder above it along the path as written.
void CheckPath(Checker& checker, const std::filesystem::path& file) {
    struct stat st {};
    bool childMissing = lstat(file.c_str(), &st) != 0;
    checker.File(file.string(), "hive");
    for (const char* suffix : {"-journal", "-wal", "-shm"}) checker.File(file.string() + suffix, "hive journal");

    bool first = true;  // the hive's own folder
    std::filesystem::path dir = file.parent_path();
    for (;;) {
        struct stat dst {};
        if (lstat(dir.c_str(), &dst) == 0) {
            checker.Folder(dir.string(), dst, first || childMissing);
            childMissing = false;
        } else {
            childMissing = true;
        }
        first = false;
        if (dir == dir.root_path() || dir.empty()) break;
        dir = dir.parent_path();
    }
}

// The path with every link of its existing part resolved; the missing rest is
// appended as written.
std::filesystem::path Resolved(const std::filesystem::path& file) {
    std::filesystem::path existing = file;
    std::filesystem::path rest;
    while (!existing.empty() && existing != existing.root_path()) {
        char buf[PATH_MAX];
        if (realpath(existing.c_str(), buf))
            return rest.empty() ? std::filesystem::path(buf)
                                : (std::filesystem::path(buf) / rest).lexically_normal();
        rest = existing.filename() / rest;
        existing = existing.parent_path();
    }
    return file;
}

}  // namespace

bool HiveIsSafeFor(const std::string& hivePath, uid_t trustedUid, std::string& why) {
    why.clear();
    if (hivePath.empty()) {
        why = "no hive path is known";
        return false;
    }
    std::filesystem::path file(hivePath);
    if (file.is_relative()) {
        std::error_code ec;
        file = std::filesystem::current_path(ec) / file;
    }
    file = file.lexically_normal();
    if (!file.has_filename()) {
        why = "the hive path " + hivePath + " names a folder, not a file";
        return false;
    }

    Checker checker(trustedUid);
    CheckPath(checker, file);
    std::filesystem::path resolved = Resolved(file);
    if (resolved != file) CheckPath(checker, resolved);
    if (checker.ok()) return true;
    why = checker.Text();
    return false;
}

bool HiveIsSafe(const std::string& hivePath, std::string& why) {
    why.clear();
    if (geteuid() != 0) return true;
    return HiveIsSafeFor(hivePath, 0, why);
}

}  // namespace telwick
