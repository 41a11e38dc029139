// The registry store of Windows: the system's registry, through its
// wide-character functions. Names and string data are UTF-8 in the program and
// UTF-16 in the registry; other data pass as bytes.
#include "platform/registry.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/win/wideutf8.h"

namespace telwick::platform::registry {

namespace {

using win::Narrow;
using win::Widen;

thread_local std::string lastError;

constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxValueName = 16383;

HKEY RootKey(uint32_t root) {
    switch (root) {
    case 0x80000000u: return HKEY_CLASSES_ROOT;
    case 0x80000001u: return HKEY_CURRENT_USER;
    case 0x80000002u: return HKEY_LOCAL_MACHINE;
    case 0x80000003u: return HKEY_USERS;
    case 0x80000005u: return HKEY_CURRENT_CONFIG;
    default: return nullptr;
    }
}

bool IsText(uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// A key handle closed when it goes.
class Key {
public:
    Key() = default;
    ~Key() {
        if (h_) RegCloseKey(h_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* out() { return &h_; }
    HKEY get() const { return h_; }

private:
    HKEY h_ = nullptr;
};

Status Fail(Status status, const std::string& text) {
    lastError = text;
    return status;
}

Status Fail(LONG rc, const std::string& what) {
    const std::string text = what + ": " + win::ErrorText(static_cast<DWORD>(rc));
    switch (rc) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return Fail(Status::NotFound, text);
    case ERROR_ACCESS_DENIED: return Fail(Status::Denied, text);
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: return Fail(Status::Invalid, text);
    default: return Fail(Status::Failed, text);
    }
}

// The same names the hive accepts: every part of a path between single
// backslashes non-empty and at most 255 characters, no zero character.
bool ValidPath(const std::string& path) {
    if (path.empty()) return true;
    size_t start = 0;
    for (;;) {
        const size_t end = path.find('\\', start);
        const size_t length = (end == std::string::npos ? path.size() : end) - start;
        if (length == 0 || length > kMaxKeyName) return false;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return path.find('\0') == std::string::npos;
}

bool ValidValueName(const std::string& name) {
    return name.size() <= kMaxValueName && name.find('\0') == std::string::npos;
}

// The root, the path and (optionally) a name in the registry's own text.
Status Prepare(uint32_t root, const std::string& path, HKEY& rootKey, std::wstring& widePath) {
    lastError.clear();
    rootKey = RootKey(root);
    if (!rootKey) return Fail(Status::Denied, "no such root key");
    if (!ValidPath(path) || !Widen(path, widePath)) return Fail(Status::Invalid, "not a key path: " + path);
    return Status::Ok;
}

Status PrepareName(const std::string& name, std::wstring& wide) {
    if (!ValidValueName(name) || !Widen(name, wide)) return Fail(Status::Invalid, "not a value name: " + name);
    return Status::Ok;
}

// Data as the registry stores them: strings as UTF-16 (a zero byte of the
// program's text, its terminator included, becomes one zero character).
bool ToStored(uint32_t type, const std::string& data, std::vector<BYTE>& out) {
    if (!IsText(type)) {
        out.assign(data.begin(), data.end());
        return true;
    }
    std::wstring wide;
    if (!Widen(data, wide)) return false;
    const auto* bytes = reinterpret_cast<const BYTE*>(wide.data());
    out.assign(bytes, bytes + wide.size() * sizeof(wchar_t));
    return true;
}

std::string FromStored(uint32_t type, const BYTE* data, size_t size) {
    if (!IsText(type)) return std::string(reinterpret_cast<const char*>(data), size);
    std::wstring wide(size / sizeof(wchar_t), L'\0');
    if (!wide.empty()) std::memcpy(wide.data(), data, wide.size() * sizeof(wchar_t));
    std::string text = Narrow(wide);
    // A string of an odd number of bytes keeps its last byte as it is.
    if (size % sizeof(wchar_t)) text.push_back(static_cast<char>(data[size - 1]));
    return text;
}

// Reads one value of an open key, however long it is. The buffer is made just
// as large as the stored data: with room to spare, the system may add a
// terminator to a string that was stored without one.
LONG Query(HKEY key, const wchar_t* name, DWORD& type, std::vector<BYTE>& data) {
    for (;;) {
        DWORD size = 0;
        LONG rc = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
        if (rc != ERROR_SUCCESS) return rc;
        data.resize(size);
        rc = RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
        if (rc == ERROR_MORE_DATA) continue;  // it grew meanwhile
        if (rc == ERROR_SUCCESS) data.resize(size);
        return rc;
    }
}

// The roots and HKEY_LOCAL_MACHINE\SOFTWARE stay, as in the hive.
bool IsPermanent(uint32_t root, const std::string& path) {
    if (path.empty()) return true;
    if (root != 0x80000002u || path.size() != 8) return false;
    for (size_t i = 0; i < 8; ++i)
        if ((path[i] & ~0x20) != "SOFTWARE"[i]) return false;
    return true;
}

}  // namespace

Status ReadValue(uint32_t root, const std::string& path, const std::string& name, Value& out) {
    HKEY base;
    std::wstring widePath, wideName;
    if (Status s = Prepare(root, path, base, widePath); s != Status::Ok) return s;
    if (Status s = PrepareName(name, wideName); s != Status::Ok) return s;
    Key key;
    if (LONG rc = RegOpenKeyExW(base, widePath.c_str(), 0, KEY_QUERY_VALUE, key.out()); rc != ERROR_SUCCESS)
        return Fail(rc, "cannot open " + path);
    DWORD type = 0;
    std::vector<BYTE> data;
    if (LONG rc = Query(key.get(), wideName.c_str(), type, data); rc != ERROR_SUCCESS)
        return Fail(rc, "cannot read " + name);
    out.name = name;
    out.type = type;
    out.data = FromStored(type, data.data(), data.size());
    return Status::Ok;
}

Status WriteValue(uint32_t root, const std::string& path, const std::string& name, uint32_t type,
                  const std::string& data) {
    HKEY base;
    std::wstring widePath, wideName;
    if (Status s = Prepare(root, path, base, widePath); s != Status::Ok) return s;
    if (Status s = PrepareName(name, wideName); s != Status::Ok) return s;
    std::vector<BYTE> stored;
    if (!ToStored(type, data, stored)) return Fail(Status::Invalid, "the text of " + name + " is no UTF-8");
    Key key;
    if (LONG rc = RegOpenKeyExW(base, widePath.c_str(), 0, KEY_SET_VALUE, key.out()); rc != ERROR_SUCCESS)
        return Fail(rc, "cannot open " + path);
    if (LONG rc =
            RegSetValueExW(key.get(), wideName.c_str(), 0, type, stored.data(), static_cast<DWORD>(stored.size()));
        rc != ERROR_SUCCESS)
        return Fail(rc, "cannot write " + name);
    return Status::Ok;
}

Status CreateKey(uint32_t root, const std::string& parent, const std::string& subKey) {
    HKEY base;
    std::wstring wideParent, wideSub;
    if (Status s = Prepare(root, parent, base, wideParent); s != Status::Ok) return s;
    // One level at a time: the registry itself would make every level of a path.
    if (subKey.size() > kMaxKeyName || subKey.find('\\') != std::string::npos ||
        subKey.find('\0') != std::string::npos || !Widen(subKey, wideSub))
        return Fail(Status::Invalid, "not a key name: " + subKey);
    if (subKey.empty()) return KeyExists(root, parent);
    Key parentKey;
    if (LONG rc = RegOpenKeyExW(base, wideParent.c_str(), 0, KEY_CREATE_SUB_KEY, parentKey.out());
        rc != ERROR_SUCCESS)
        return Fail(rc, "cannot open " + parent);
    Key key;
    if (LONG rc = RegCreateKeyExW(parentKey.get(), wideSub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_QUERY_VALUE, nullptr, key.out(), nullptr);
        rc != ERROR_SUCCESS)
        return Fail(rc, "cannot create " + subKey);
    return Status::Ok;
}

Status KeyExists(uint32_t root, const std::string& path) {
    HKEY base;
    std::wstring widePath;
    if (Status s = Prepare(root, path, base, widePath); s != Status::Ok) return s;
    Key key;
    if (LONG rc = RegOpenKeyExW(base, widePath.c_str(), 0, KEY_QUERY_VALUE, key.out()); rc != ERROR_SUCCESS)
        return Fail(rc, "cannot open " + path);
    return Status::Ok;
}

Status ListKey(uint32_t root, const std::string& path, std::vector<Value>& values,
               std::vector<std::string>& subKeys) {
    values.clear();
    subKeys.clear();
    HKEY base;
    std::wstring widePath;
    if (Status s = Prepare(root, path, base, widePath); s != Status::Ok) return s;
    Key key;
    if (LONG rc = RegOpenKeyExW(base, widePath.c_str(), 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, key.out());
        rc != ERROR_SUCCESS)
        return Fail(rc, "cannot open " + path);
    std::vector<wchar_t> name(kMaxValueName + 2);
    std::vector<BYTE> data;
    for (DWORD i = 0;;) {
        // The size first, then the data in a buffer of just that size (see Query).
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = 0;
        DWORD type = 0;
        LONG rc = RegEnumValueW(key.get(), i, name.data(), &nameLength, nullptr, &type, nullptr, &size);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc == ERROR_SUCCESS) {
            data.resize(size);
            nameLength = static_cast<DWORD>(name.size());
            rc = RegEnumValueW(key.get(), i, name.data(), &nameLength, nullptr, &type, data.data(), &size);
            if (rc == ERROR_MORE_DATA) continue;  // it grew meanwhile: the same index again
        }
        if (rc != ERROR_SUCCESS) return Fail(rc, "cannot list the values of " + path);
        values.push_back(Value{Narrow(name.data(), nameLength), type, FromStored(type, data.data(), size)});
        ++i;
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        const LONG rc = RegEnumKeyExW(key.get(), i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) return Fail(rc, "cannot list the keys of " + path);
        subKeys.push_back(Narrow(name.data(), nameLength));
    }
    return Status::Ok;
}

Status WriteValues(uint32_t root, const std::string& path, const std::vector<Value>& values,
                   const std::vector<std::string>& removals) {
    HKEY base;
    std::wstring widePath;
    if (Status s = Prepare(root, path, base, widePath); s != Status::Ok) return s;
    // Everything is converted before anything is written: a bad name or text
    // changes nothing. The registry has no transaction to offer beyond that.
    std::vector<std::pair<std::wstring, std::vector<BYTE>>> stored(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        if (Status s = PrepareName(values[i].name, stored[i].first); s != Status::Ok) return s;
        if (!ToStored(values[i].type, values[i].data, stored[i].second))
            return Fail(Status::Invalid, "the text of " + values[i].name + " is no UTF-8");
    }
    std::vector<std::wstring> removed(removals.size());
    for (size_t i = 0; i < removals.size(); ++i)
        if (Status s = PrepareName(removals[i], removed[i]); s != Status::Ok) return s;
    if (path.empty()) return Fail(Status::Denied, "values are not written into a root key");
    Key key;
    if (LONG rc = RegCreateKeyExW(base, widePath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                  nullptr, key.out(), nullptr);
        rc != ERROR_SUCCESS)
        return Fail(rc, "cannot create " + path);
    for (size_t i = 0; i < values.size(); ++i) {
        const auto& data = stored[i].second;
        if (LONG rc = RegSetValueExW(key.get(), stored[i].first.c_str(), 0, values[i].type, data.data(),
                                     static_cast<DWORD>(data.size()));
            rc != ERROR_SUCCESS)
            return Fail(rc, "cannot write " + values[i].name);
    }
    for (size_t i = 0; i < removed.size(); ++i) {
        const LONG rc = RegDeleteValueW(key.get(), removed[i].c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return Fail(rc, "cannot remove " + removals[i]);
    }
    return Status::Ok;
}

Status DeleteKey(uint32_t root, const std::string& path) {
    HKEY base;
    std::wstring widePath;
    if (Status s = Prepare(root, path, base, widePath); s != Status::Ok) return s;
    if (IsPermanent(root, path)) return Fail(Status::Denied, path + " may not be removed");
    if (LONG rc = RegDeleteTreeW(base, widePath.c_str()); rc != ERROR_SUCCESS)
        return Fail(rc, "cannot remove " + path);
    // The tree is gone below the key; the key itself goes with it, or here.
    const LONG rc = RegDeleteKeyW(base, widePath.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return Fail(rc, "cannot remove " + path);
    return Status::Ok;
}

Status Verify() { return Status::Ok; }

const std::string& LastError() { return lastError; }

std::string StoreName() { return "the registry key HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Telwick"; }

}  // namespace telwick::platform::registry
