#include "reg/reg.h"

#include "platform/posix/hive.h"
#include "settings/registry.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>

namespace telwick::reg {

namespace {

using telwick::hive::Status;
namespace hive = telwick::hive;

constexpr const char* kSyntaxHint = "Type \"telwick-reg /?\" for usage.";
constexpr const char* kNotFound = "ERROR: The system was unable to find the specified registry key or value.";
constexpr const char* kDone = "The operation completed successfully.";

// Largest data the service can read back (its read buffer holds 4096 bytes,
// a string's terminator included).
constexpr size_t kMaxBytes = modRegistry::ReadBufferSize;

struct Failure {
    std::string line;  // the one line for standard error
};

[[noreturn]] void Syntax(const std::string& detail = "") {
    throw Failure{"ERROR: Invalid syntax" + (detail.empty() ? std::string(".") : ": " + detail + ".") + " " +
                  kSyntaxHint};
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// The failure line for a hive status.
std::string Explain(Status s) {
    switch (s) {
    case Status::Ok: return "";
    case Status::NotFound: return kNotFound;
    case Status::Denied: return "ERROR: Access is denied.";
    case Status::Invalid: return "ERROR: Invalid key or value name.";
    case Status::Damaged: return "ERROR: The registry hive " + hive::LastError() + ".";
    case Status::Failed: return "ERROR: " + hive::LastError() + ".";
    }
    return "ERROR: Unknown failure.";
}

void Require(Status s) {
    if (s != Status::Ok) throw Failure{Explain(s)};
}

struct Key {
    uint32_t root = 0;
    std::string path;     // below the root, as typed
    std::string display;  // the root's full name, then the path as typed
};

Key ParseKey(const std::string& text) {
    if (text.rfind("\\\\", 0) == 0) throw Failure{"ERROR: Keys of other computers cannot be reached."};
    std::string t = text;
    while (!t.empty() && t.back() == '\\') t.pop_back();
    size_t slash = t.find('\\');
    std::string rootName = t.substr(0, slash);
    Key key;
    key.root = hive::RootFromName(rootName);
    if (key.root == 0)
        throw Failure{
            "ERROR: Invalid key name: the key must begin with HKLM or HKEY_LOCAL_MACHINE (or another root)."};
    if (slash != std::string::npos) key.path = t.substr(slash + 1);
    key.display = hive::RootName(key.root) + (key.path.empty() ? "" : "\\" + key.path);
    return key;
}

struct Options {
    std::optional<std::string> value;  // /v NAME, or "" for /ve
    bool allValues = false;            // /va
    std::optional<std::string> type;   // /t
    std::optional<std::string> data;   // /d
    bool force = false;                // /f
};

Options ParseOptions(const std::vector<std::string>& args, size_t from, const std::string& allowed) {
    Options o;
    std::map<std::string, bool> seen;
    auto once = [&](const std::string& name) {
        if (seen[name]) Syntax("/" + name + " is given twice");
        seen[name] = true;
    };
    for (size_t i = from; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() < 2 || (a[0] != '/' && a[0] != '-')) Syntax("unexpected argument \"" + a + "\"");
        std::string name = Lower(a.substr(1));
        if (allowed.find(" " + name + " ") == std::string::npos) Syntax("unknown option " + a);
        once(name);
        auto next = [&]() -> std::string {
            if (i + 1 >= args.size()) Syntax(a + " needs a value");
            return args[++i];  // taken as it stands, even when it starts with / or -
        };
        if (name == "v")
            o.value = next();
        else if (name == "ve")
            o.value = std::string();
        else if (name == "va")
            o.allValues = true;
        else if (name == "t")
            o.type = next();
        else if (name == "d")
            o.data = next();
        else if (name == "f")
            o.force = true;
    }
    if (seen["v"] && seen["ve"]) Syntax("/v and /ve exclude each other");
    if (o.allValues && o.value) Syntax("/va excludes /v and /ve");
    return o;
}

const char* TypeName(uint32_t type) {
    switch (type) {
    case 0: return "REG_NONE";
    case 1: return "REG_SZ";
    case 2: return "REG_EXPAND_SZ";
    case 3: return "REG_BINARY";
    case 4: return "REG_DWORD";
    case 5: return "REG_DWORD_BIG_ENDIAN";
    case 6: return "REG_LINK";
    case 7: return "REG_MULTI_SZ";
    case 11: return "REG_QWORD";
    default: return nullptr;
    }
}

std::string HexBytes(const std::string& data) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : data) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string ShowData(const hive::Value& v) {
    std::string d = v.data;
    switch (v.type) {
    case modRegistry::REG_SZ:
    case modRegistry::REG_EXPAND_SZ:
        if (!d.empty() && d.back() == '\0') d.pop_back();
        return d;
    case 7: {  // REG_MULTI_SZ: the strings joined by \0, as reg.exe shows them
        while (!d.empty() && d.back() == '\0') d.pop_back();
        std::string out;
        for (char c : d) out += c == '\0' ? std::string("\\0") : std::string(1, c);
        return out;
    }
    case modRegistry::REG_DWORD:
    case 11:
        if (d.size() == 4 || d.size() == 8) {
            uint64_t n = 0;
            for (size_t i = d.size(); i-- > 0;) n = (n << 8) | static_cast<unsigned char>(d[i]);
            char text[24];
            std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(n));
            return text;
        }
        return HexBytes(d);
    default: return HexBytes(d);
    }
}

void PrintValue(std::ostream& out, const hive::Value& v) {
    const char* name = TypeName(v.type);
    char unknown[16];
    if (!name) {
        std::snprintf(unknown, sizeof unknown, "0x%x", v.type);
        name = unknown;
    }
    out << "    " << (v.name.empty() ? "(Default)" : v.name) << "    " << name << "    " << ShowData(v) << '\n';
}

// Asks a Yes/No question on the terminal; true for yes.
bool Confirm(std::istream& in, std::ostream& out, const std::string& question) {
    for (;;) {
        out << question << " (Yes/No)? " << std::flush;
        std::string answer;
        if (!std::getline(in, answer)) return false;
        std::string a = Lower(answer);
        if (a == "y" || a == "yes") return true;
        if (a == "n" || a == "no") return false;
    }
}

// Turns /t and /d into the bytes to store.
std::pair<uint32_t, std::string> Data(const Options& o) {
    const std::string type = o.type ? Upper(*o.type) : "REG_SZ";
    const std::string data = o.data.value_or("");
    if (type == "REG_SZ" || type == "REG_EXPAND_SZ") {
        // Stored exactly as the service stores a string: the bytes as given,
        // one terminating zero, the empty text as zero bytes.
        if (data.size() >= kMaxBytes)
            throw Failure{"ERROR: The data has " + std::to_string(data.size()) +
                          " characters; the service reads at most " + std::to_string(kMaxBytes - 1) + "."};
        return {type == "REG_SZ" ? modRegistry::REG_SZ : modRegistry::REG_EXPAND_SZ,
                data.empty() ? data : data + '\0'};
    }
    if (type == "REG_DWORD") {
        uint64_t n = 0;
        if (o.data) {
            const bool hex = data.size() > 2 && data[0] == '0' && (data[1] == 'x' || data[1] == 'X');
            const size_t start = hex ? 2 : 0;
            if (data.size() == start) throw Failure{"ERROR: Invalid REG_DWORD data \"" + data + "\"."};
            for (size_t i = start; i < data.size(); ++i) {
                char c = data[i];
                int digit = c >= '0' && c <= '9'          ? c - '0'
                            : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                            : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                          : -1;
                if (digit < 0) throw Failure{"ERROR: Invalid REG_DWORD data \"" + data + "\"."};
                n = n * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
                if (n > 0xFFFFFFFFull)
                    throw Failure{"ERROR: REG_DWORD data \"" + data + "\" does not fit 32 bits."};
            }
        }
        std::string bytes(4, '\0');
        for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>((n >> (8 * i)) & 0xff);
        return {modRegistry::REG_DWORD, bytes};
    }
    if (type == "REG_BINARY") {
        auto nibble = [](char c) {
            return c >= '0' && c <= '9'   ? c - '0'
                   : c >= 'a' && c <= 'f' ? c - 'a' + 10
                   : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
        };
        if (data.size() % 2 != 0) throw Failure{"ERROR: REG_BINARY data needs an even number of hex digits."};
        std::string bytes;
        for (size_t i = 0; i < data.size(); i += 2) {
            int hi = nibble(data[i]), lo = nibble(data[i + 1]);
            if (hi < 0 || lo < 0) throw Failure{"ERROR: Invalid REG_BINARY data: only hex digits are allowed."};
            bytes += static_cast<char>(hi * 16 + lo);
        }
        if (bytes.size() > kMaxBytes)
            throw Failure{"ERROR: The data has " + std::to_string(bytes.size()) +
                          " bytes; the service reads at most " + std::to_string(kMaxBytes) + "."};
        return {modRegistry::REG_BINARY, bytes};
    }
    throw Failure{"ERROR: Unsupported type " + *o.type + ": use REG_SZ, REG_EXPAND_SZ, REG_DWORD or REG_BINARY."};
}

void Usage(std::ostream& out) {
    out << "telwick-reg: reads and writes the settings hive of Telwick (" << hive::HivePath()
        << ", from $TELWICK_REGISTRY when set).\n"
        << "\n"
        << "  telwick-reg query  KEY [/v NAME | /ve]\n"
        << "  telwick-reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
        << "  telwick-reg delete KEY [/v NAME | /ve | /va] [/f]\n"
        << "\n"
        << "  KEY   HKLM\\SUBKEY or HKEY_LOCAL_MACHINE\\SUBKEY, e.g. HKLM\\SOFTWARE\\Corvane\\Telwick\n"
        << "  /v    the value NAME; /ve the default (unnamed) value; /va every value of KEY\n"
        << "  /t    REG_SZ (default), REG_EXPAND_SZ, REG_DWORD (decimal or 0x hex), REG_BINARY (hex digits)\n"
        << "  /d    the data, stored byte for byte as given (empty when left out, 0 for REG_DWORD)\n"
        << "  /f    overwrite or delete without asking (needed when no terminal can answer)\n"
        << "\n"
        << "  add creates KEY and every missing key above it; without /v it sets the default value\n"
        << "  (so a second add KEY overwrites it, asking first unless /f is given).\n"
        << "  delete without /v removes KEY with all its values and subkeys.\n"
        << "  Exit status: 0 on success, 1 on failure (one line on standard error).\n"
        << "\n"
        << "  Not done as reg.exe does them: keys of other computers (\\\\COMPUTER\\KEY); adding\n"
        << "  REG_MULTI_SZ, REG_QWORD or REG_NONE data (shown when present); query's /s, /se, /f, /k, /d,\n"
        << "  /c, /e, /z and /t; /reg:32 and /reg:64; the operations copy, compare, export, import, save,\n"
        << "  restore, load, unload and flags. HKCU, HKU, HKCR and HKCC are keys of this same hive, not\n"
        << "  a user's or the system's own.\n";
}

int Query(const Key& key, const Options& o, std::ostream& out) {
    if (o.value) {
        hive::Value v;
        Status s = hive::ReadValue(key.root, key.path, *o.value, v);
        // An unset default value is shown as such, and is no failure.
        if (s == Status::NotFound && o.value->empty() && hive::KeyExists(key.root, key.path) == Status::Ok) {
            out << '\n' << key.display << "\n    (Default)    REG_SZ    (value not set)\n\n";
            return 0;
        }
        Require(s);
        out << '\n' << key.display << '\n';
        PrintValue(out, v);
        out << '\n';
        return 0;
    }
    std::vector<hive::Value> values;
    std::vector<std::string> subKeys;
    Require(hive::ListKey(key.root, key.path, values, subKeys));
    // The key's own line heads its values; a key without values shows only
    // the blank line, so that a script reading the lines finds just subkeys.
    out << '\n';
    if (!values.empty()) out << key.display << '\n';
    for (const auto& v : values) PrintValue(out, v);
    if (!values.empty()) out << '\n';
    std::stable_sort(subKeys.begin(), subKeys.end(), [](const std::string& a, const std::string& b) {
        return hive::FoldName(a) < hive::FoldName(b);
    });
    for (const auto& s : subKeys) out << key.display << '\\' << s << '\n';
    return 0;
}

int Add(const Key& key, const Options& o, std::istream& in, std::ostream& out, bool interactive) {
    // Without /v the default value is set: to /d, or to the empty text.
    const std::string valueName = o.value.value_or("");
    auto [type, bytes] = Data(o);
    hive::Value existing;
    Status s = hive::ReadValue(key.root, key.path, valueName, existing);
    if (s != Status::Ok && s != Status::NotFound) Require(s);
    if (s == Status::Ok && !o.force) {
        const std::string name = valueName.empty() ? "(Default)" : valueName;
        if (!interactive) throw Failure{"ERROR: The value " + name + " exists already; add /f to overwrite it."};
        if (!Confirm(in, out, "Value " + name + " exists, overwrite"))
            throw Failure{"ERROR: The operation was cancelled; nothing was changed."};
    }
    Require(hive::CreateKeyPath(key.root, key.path));
    Require(hive::WriteValue(key.root, key.path, valueName, type, bytes));
    out << kDone << '\n';
    return 0;
}

int Delete(const Key& key, const Options& o, std::istream& in, std::ostream& out, bool interactive) {
    std::vector<hive::Value> values;
    std::vector<std::string> subKeys;
    Require(hive::ListKey(key.root, key.path, values, subKeys));
    std::string question;
    if (o.value) {
        hive::Value v;
        Require(hive::ReadValue(key.root, key.path, *o.value, v));
        question = "Delete the registry value " + (o.value->empty() ? std::string("(Default)") : *o.value);
    } else if (o.allValues) {
        question = "Delete all values under the registry key " + key.display;
    } else {
        if (hive::IsPermanentKey(key.root, key.path)) Require(Status::Denied);
        question = "Permanently delete the registry key " + key.display;
    }
    if (!o.force) {
        if (!interactive) throw Failure{"ERROR: Deleting needs confirmation; add /f to delete without asking."};
        if (!Confirm(in, out, question)) throw Failure{"ERROR: The operation was cancelled; nothing was deleted."};
    }
    if (o.value) {
        Require(hive::DeleteValue(key.root, key.path, *o.value));
    } else if (o.allValues) {
        for (const auto& v : values) {
            Status s = hive::DeleteValue(key.root, key.path, v.name);
            if (s != Status::NotFound) Require(s);
        }
    } else {
        Require(hive::DeleteKey(key.root, key.path));
    }
    out << kDone << '\n';
    return 0;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
        bool interactive) {
    try {
        if (args.empty()) Syntax();
        const std::string verb = Lower(args[0]);
        if (verb == "/?" || verb == "-?" || verb == "/h" || verb == "-h" || verb == "--help") {
            Usage(out);
            return 0;
        }
        if (verb != "query" && verb != "add" && verb != "delete") Syntax("unknown operation \"" + args[0] + "\"");
        if (args.size() >= 2 && (args[1] == "/?" || args[1] == "-?")) {
            Usage(out);
            return 0;
        }
        if (args.size() < 2) Syntax("KEY is missing");
        const Key key = ParseKey(args[1]);
        const Options o = ParseOptions(args, 2,
                                       verb == "query" ? " v ve "
                                       : verb == "add" ? " v ve t d f "
                                                       : " v ve va f ");
        // A damaged hive is named at once, whatever the command.
        Require(hive::Verify());
        if (verb == "query") return Query(key, o, out);
        if (verb == "add") return Add(key, o, in, out, interactive);
        return Delete(key, o, in, out, interactive);
    } catch (const Failure& f) {
        out.flush();
        err << f.line << std::endl;
        return 1;
    }
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return Run(args, std::cin, out, err, isatty(STDIN_FILENO) == 1);
}

}  // namespace telwick::reg
