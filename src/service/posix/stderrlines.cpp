#include "service/posix/stderrlines.h"

#include "platform/consoleline.h"

#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace telwick::service {

namespace {

// True when path is (or now is) a folder of ours, not a link, with mode 0700.
bool PrivateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
              ((st.st_mode & 07777) == 0700 || fchmod(fd, 0700) == 0);
    close(fd);
    return ok;
}

bool keepAllMessages = false;

void OnQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    const std::string text = message.toStdString();
    if (!keepAllMessages && CoveredByOwnEntries(type, text)) return;
    telwick::platform::WriteStandardError(QtMessageLine(text));
}

}  // namespace

void PrepareRuntimeDirectory() {
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir) return;
    const uid_t uid = geteuid();
    std::string folder;
    // The unit's RuntimeDirectory=, made by systemd before the start (one
    // folder: no ':' in the name).
    const char* made = std::getenv("RUNTIME_DIRECTORY");
    if (made && *made == '/' && !std::strchr(made, ':') && PrivateFolder(made))
        folder = made;
    else if (uid == 0 && PrivateFolder("/run/telwick"))
        folder = "/run/telwick";
    else if (PrivateFolder("/tmp/telwick-runtime-" + std::to_string(uid)))
        folder = "/tmp/telwick-runtime-" + std::to_string(uid);
    else {
        char fresh[] = "/tmp/telwick-runtime-XXXXXX";
        if (mkdtemp(fresh)) folder = fresh;
    }
    if (!folder.empty()) setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
}

bool CoveredByOwnEntries(QtMsgType type, std::string_view message) {
    if (type != QtWarningMsg) return false;
    for (std::string_view prefix : {"qMakeField", "qGetStringData", "qGetBinaryData", "qGetIntData",
                                    "qGetBigIntData", "qGetDoubleData", "QODBCResult::", "QODBCDriver::"}) {
        if (message.substr(0, prefix.size()) == prefix) return true;
    }
    return false;
}

std::string QtMessageLine(std::string_view message) {
    return "Telwick: Qt: " + telwick::platform::EscapeControlCharacters(message) + "\n";
}

void InstallQtMessageHandler(bool keepAll) {
    keepAllMessages = keepAll;
    qInstallMessageHandler(OnQtMessage);
}

}  // namespace telwick::service
