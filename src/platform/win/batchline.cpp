#include "platform/win/batchline.h"

#include <algorithm>
#include <cctype>

namespace telwick::platform::win {

namespace {

constexpr std::string_view PercentEscape = "%%cd:~,%";
constexpr std::string_view CmdSwitches = "/e:on /v:off /d /s /c ";

size_t SequenceLength(std::string_view text, size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t n = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    // A broken sequence counts byte by byte.
    size_t k = 1;
    while (k < n && i + k < text.size() && (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80) ++k;
    return k;
}

// UTF-16 length of UTF-8 text, as the Windows calls will see it.
size_t Units(std::string_view text) {
    size_t units = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t k = SequenceLength(text, i);
        units += k == 4 ? 2 : 1;
        i += k;
    }
    return units;
}

// Appends text escaped for cmd.exe inside double quotes, while it fits.
size_t AppendEscaped(std::string& out, std::string_view text, size_t budget) {
    size_t used = 0;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        std::string_view piece;
        size_t consumed = 1;
        if (c == '"') {
            piece = "\"\"";
        } else if (c == '%') {
            piece = PercentEscape;
        } else if (c == '\r' || c == '\n' || c == '\0') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') consumed = 2;
            piece = " ";
        } else {
            consumed = SequenceLength(text, i);
            piece = text.substr(i, consumed);
        }
        const size_t units = Units(piece);
        if (used + units > budget) break;
        out.append(piece);
        used += units;
        i += consumed;
    }
    return used;
}

}  // namespace

bool IsBatchFile(std::string_view path) {
    if (path.size() < 4) return false;
    std::string ext(path.substr(path.size() - 4));
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".bat" || ext == ".cmd";
}

std::string QuoteBatchArgument(std::string_view message, size_t budget) {
    std::string out = "\"";
    if (budget >= 2) AppendEscaped(out, message, budget - 2);
    out += '"';
    return out;
}

std::string BatchCommandLine(std::string_view path, std::string_view message) {
    for (char c : path)
        if (c == '"' || (static_cast<unsigned char>(c) < 0x20)) return {};
    std::string line(CmdSwitches);
    line += "\"\"";
    const size_t pathUnits = AppendEscaped(line, path, CmdLineLimit);
    if (pathUnits < Units(path)) return {};  // a path too long to pass at all
    line += "\" ";
    // What is left for the message: cmd.exe's own name, a blank, the switches,
    // the quotes around the path and the closing quote all count.
    const size_t fixed = Units("cmd.exe ") + Units(line) + 1;
    const size_t budget = fixed < CmdLineLimit ? CmdLineLimit - fixed : 0;
    line += QuoteBatchArgument(message, budget);
    line += '"';
    return line;
}

std::string QuoteProgramArgument(std::string_view argument) {
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

}  // namespace telwick::platform::win
