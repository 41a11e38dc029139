// The console host of the message boxes and the installed host, the same on
// every system; HasDisplay is each system's own.
#include "platform/messagebox.h"

#include "platform/consoleline.h"

namespace telwick::platform {

namespace {
ConsoleMessageBox consoleHost;
MessageBoxHost* installedHost = nullptr;
}  // namespace

Answer ConsoleMessageBox::Show(const std::string& text, const std::string& title, Buttons buttons) {
    // The text may come from remote computers: it stays one line.
    WriteStandardError(EscapeControlCharacters("[" + title + "] " + text) + "\n");
    return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
}

MessageBoxHost& MessageBoxes() { return installedHost ? *installedHost : consoleHost; }

void SetMessageBoxHost(MessageBoxHost* host) { installedHost = host; }

Answer ShowMessage(const std::string& text, const std::string& title, Buttons buttons) {
    return MessageBoxes().Show(text, title, buttons);
}

}  // namespace telwick::platform
