// The application event log on Windows: ReportEventW under the source
// "Telwick". The texts of the entries come from the message table compiled
// into the program (messages.mc): every entry number the program writes has a
// message there that is just its one insertion string, so Event Viewer shows
// the text as written. The event source is registered by "-install" and by
// the installer; without it the entry is still written, only Event Viewer
// cannot find its text.
// An entry the event log does not take (no event log service, a refusal)
// becomes one line on standard error, "Telwick[" + number + "]: " + text with
// its control characters written out, and counts as written, as on Linux.
#include "platform/syslog.h"

#include "platform/consoleline.h"
#include "platform/win/wide.h"

#include <mutex>
#include <string>

namespace telwick::platform {

namespace {

// ReportEventW refuses an insertion string longer than this (in UTF-16 units).
constexpr size_t MaxInsertion = 31839;

WORD EntryType(int16_t type) {
    switch (type) {
    case EventError: return EVENTLOG_ERROR_TYPE;
    case 2: return EVENTLOG_WARNING_TYPE;
    default: return EVENTLOG_INFORMATION_TYPE;
    }
}

class EventSource {
public:
    ~EventSource() {
        if (handle_) DeregisterEventSource(handle_);
    }

    bool Report(int16_t type, int32_t number, const std::string& text) {
        std::wstring wide = win::Widen(text);
        if (wide.size() > MaxInsertion) {
            // Cut, not refused: an overlong text is still logged. A surrogate
            // pair is never split.
            size_t cut = MaxInsertion;
            if (IS_HIGH_SURROGATE(wide[cut - 1])) --cut;
            wide.resize(cut);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (!handle_) handle_ = RegisterEventSourceW(nullptr, L"Telwick");
        if (!handle_) return false;
        LPCWSTR strings[] = {wide.c_str()};
        if (ReportEventW(handle_, EntryType(type), 0, static_cast<DWORD>(number), nullptr, 1, 0, strings, nullptr))
            return true;
        // The event log service may have been restarted: register afresh once.
        DeregisterEventSource(handle_);
        handle_ = RegisterEventSourceW(nullptr, L"Telwick");
        return handle_ &&
               ReportEventW(handle_, EntryType(type), 0, static_cast<DWORD>(number), nullptr, 1, 0, strings, nullptr);
    }

private:
    std::mutex mutex_;
    HANDLE handle_ = nullptr;
};

EventSource& Source() {
    static EventSource source;
    return source;
}

}  // namespace

bool WriteEventLog(int16_t type, int32_t number, const std::string& text) {
    try {
        if (!Source().Report(type, number, text))
            WriteStandardError("Telwick[" + std::to_string(number) + "]: " + EscapeControlCharacters(text) + "\n");
        return true;
    } catch (...) {
        return false;  // out of memory while building the entry
    }
}

void ReportToOperator(int16_t type, int32_t number, const std::string& text) {
    WriteStandardError("Telwick: " + EscapeControlCharacters(text) + "\n");
    WriteEventLog(type, number, text);
}

}  // namespace telwick::platform
