// The service control on a systemd machine: the service is a unit file
// telwick.service, requests arrive as signals (SIGTERM and SIGINT stop, SIGTSTP
// pause, SIGCONT continue) and become events of the one thread through a
// self-pipe, and readiness and status go to $NOTIFY_SOCKET.
#pragma once

#include <QObject>

#include <memory>
#include <string>
#include <vector>

#include "service/ServiceControl.h"

class QSocketNotifier;

namespace telwick::service {

namespace systemd {

// Where the unit goes: $TELWICK_UNIT_DIR, else /etc/systemd/system for root,
// else $XDG_CONFIG_HOME/systemd/user (default ~/.config/systemd/user).
std::string UnitDirectory();
bool UserUnit();  // not root: a unit of the user's own service manager
inline const std::string UnitFileName = "telwick.service";

// The unit text for the given program path.
std::string UnitText(const std::string& executable, bool userUnit);
// The path written so that systemd reads it back as one word, unchanged.
std::string QuoteExecPath(const std::string& path);
// The absolute path of the running program.
std::string ExecutablePath();

// The systemctl to run: $TELWICK_SYSTEMCTL when set, else "systemctl" when it
// is installed and systemd runs the machine (/run/systemd/system); empty
// when there is no service manager to tell.
std::string SystemctlProgram();
// Runs systemctl (with --user for a user unit) and waits; true on status 0.
bool RunSystemctl(const std::string& program, bool userUnit, const std::vector<std::string>& args);

// One datagram in the notify protocol to the given socket path ("@..." is
// an abstract address). False when there is no socket or the send failed; a
// receiver whose queue is full loses the datagram rather than holding us up.
bool Notify(const std::string& socketPath, const std::string& state);

}  // namespace systemd

// The last resort of a stop signal, for the program (not for tests that raise
// signals in their own process): when the one thread has not taken the stop up
// within 0.6 s, because it is held in a call that cannot notice it (a driver
// waiting on a server), the process ends at once with status 0.
void EnableStopGuard();

class SystemdService : public QObject, public ServiceControl {
public:
    SystemdService();
    ~SystemdService() override;

    std::string displayName() const override { return DisplayName; }
    void setInteractive(bool interactive) override { interactive_ = interactive; }
    void setDebug(bool debug) override { debug_ = debug; }
    void setControlsAccepted(int32_t controls) override { controls_ = controls; }

    bool Install() override;
    bool Uninstall() override;

    void StartService(ServiceRequests* requests) override;
    void StopService() override;

    bool LogEvent(int16_t type, int32_t number, const std::string& text) override;
    void SetStatus(const std::string& text) override;

    bool debug() const { return debug_; }
    bool dispatching() const { return requests_ != nullptr; }

private:
    void InstallSignalHandlers();
    void RemoveSignalHandlers();
    void ReadSignals();
    void RaiseStart();
    void RaiseStop();
    void RaisePause();
    void RaiseContinue();
    void Notify(const std::string& state);

    ServiceRequests* requests_ = nullptr;
    bool interactive_ = false;
    bool debug_ = false;
    int32_t controls_ = 0;
    std::string notifySocket_;
    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    bool handlersInstalled_ = false;
};

}  // namespace telwick::service
