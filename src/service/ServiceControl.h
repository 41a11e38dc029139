// The service control of the hidden window: registering the service with the
// service manager, dispatching, the requests it raises and the event log.
#pragma once

#include <cstdint>
#include <string>

namespace telwick::service {

inline const std::string ServiceName = "Telwick";
inline const std::string DisplayName = "Corvane Monitoring Service";

// Pause and continue are accepted.
constexpr int32_t AcceptPauseContinue = 2;

// The answers to the requests; each runs as an event of the window's thread.
class ServiceRequests {
public:
    virtual ~ServiceRequests() = default;
    virtual bool OnStart() = 0;  // true: the service runs
    virtual void OnStop() = 0;
    virtual bool OnPause() = 0;
    virtual bool OnContinue() = 0;
    // One line for the service manager's status display ("Paused", ...).
    virtual std::string StatusText() const = 0;
};

class ServiceControl {
public:
    virtual ~ServiceControl() = default;

    virtual std::string displayName() const = 0;
    virtual void setInteractive(bool interactive) = 0;
    virtual void setDebug(bool debug) = 0;
    virtual void setControlsAccepted(int32_t controls) = 0;

    // Registers / removes the service; true when all of it succeeded.
    virtual bool Install() = 0;
    virtual bool Uninstall() = 0;

    // Connects the process to the service manager; the start request follows
    // as an event of the thread, then the other requests as they come.
    virtual void StartService(ServiceRequests* requests) = 0;
    // Asks that the service be stopped; the stop request follows as an event.
    virtual void StopService() = 0;

    // One entry in the system log under the service's name.
    virtual bool LogEvent(int16_t type, int32_t number, const std::string& text) = 0;

    // The line the service manager shows for the running service (what the
    // last check did). Never waits for the service manager.
    virtual void SetStatus(const std::string& text) { (void)text; }
};

}  // namespace telwick::service
