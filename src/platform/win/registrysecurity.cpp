// Whether the program's key can be trusted by the service. The key names the
// batch programs the service starts for every matching event, as SYSTEM: a user
// who can change the key, or make it while it is missing, could make the
// service run any program of theirs. So the key (or, while it is missing, the
// nearest key above it) may give write access to SYSTEM, the Administrators and
// TrustedInstaller only, and must belong to one of them.
#include <windows.h>
// after windows.h, whose types they use
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/win/wideutf8.h"

namespace telwick::platform::registry {

namespace {

// Any right that changes the key, its values, its subkeys or its protection.
constexpr ACCESS_MASK kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | WRITE_DAC |
                                     WRITE_OWNER | DELETE | GENERIC_WRITE | GENERIC_ALL;

const wchar_t* const kKeys[] = {L"SOFTWARE\\Corvane\\Telwick", L"SOFTWARE\\Corvane", L"SOFTWARE"};

std::string Display(const wchar_t* key) { return "HKEY_LOCAL_MACHINE\\" + win::Narrow(key, wcslen(key)); }

// DOMAIN\name, else the S-1-... form.
std::string AccountName(PSID sid) {
    wchar_t name[256], domain[256];
    DWORD nameLength = 256, domainLength = 256;
    SID_NAME_USE use;
    if (LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use)) {
        std::string text = win::Narrow(name, nameLength);
        return domainLength ? win::Narrow(domain, domainLength) + "\\" + text : text;
    }
    wchar_t* text = nullptr;
    std::string result = "an unknown account";
    if (ConvertSidToStringSidW(sid, &text)) {
        result = win::Narrow(text, wcslen(text));
        LocalFree(text);
    }
    return result;
}

// SYSTEM, the Administrators, TrustedInstaller.
class Trusted {
public:
    Trusted() {
        DWORD size = sizeof system_;
        CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &size);
        size = sizeof admins_;
        CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins_, &size);
        ConvertStringSidToSidW(L"S-1-5-80-956008885-3425938131-1576798434-2373553898-3364640955", &installer_);
    }
    ~Trusted() {
        if (installer_) LocalFree(installer_);
    }
    Trusted(const Trusted&) = delete;
    Trusted& operator=(const Trusted&) = delete;

    bool operator()(PSID sid) const {
        return EqualSid(sid, const_cast<BYTE*>(system_)) || EqualSid(sid, const_cast<BYTE*>(admins_)) ||
               (installer_ && EqualSid(sid, installer_));
    }

private:
    BYTE system_[SECURITY_MAX_SID_SIZE] = {};
    BYTE admins_[SECURITY_MAX_SID_SIZE] = {};
    PSID installer_ = nullptr;
};

std::string Rights(ACCESS_MASK mask) {
    std::string text;
    auto add = [&](ACCESS_MASK bits, const char* what) {
        if (!(mask & bits)) return;
        if (!text.empty()) text += ", ";
        text += what;
    };
    add(GENERIC_ALL, "full control");
    add(GENERIC_WRITE | KEY_SET_VALUE, "set values");
    add(KEY_CREATE_SUB_KEY, "create subkeys");
    add(KEY_CREATE_LINK, "create links");
    add(DELETE, "delete");
    add(WRITE_DAC, "change permissions");
    add(WRITE_OWNER, "take ownership");
    return text;
}

// The problems of one key's owner and access list.
void CheckKey(const wchar_t* path, PSID owner, PACL dacl, const Trusted& trusted,
              std::vector<std::string>& problems) {
    const std::string key = Display(path);
    if (!trusted(owner))
        problems.push_back("the key " + key + " belongs to " + AccountName(owner) +
                           ", who can change its permissions");
    if (!dacl) {
        problems.push_back("the key " + key + " has no access list at all, so everyone may change it");
        return;
    }
    BYTE ownerRights[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof ownerRights;
    CreateWellKnownSid(WinCreatorOwnerRightsSid, nullptr, ownerRights, &size);
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) continue;
        const auto* header = static_cast<ACE_HEADER*>(entry);
        // Only what grants, and only what applies to this key itself.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) continue;
        auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        if (!(ace->Mask & kWriteRights)) continue;
        PSID sid = &ace->SidStart;
        if (trusted(sid) || (EqualSid(sid, ownerRights) && trusted(owner))) continue;
        problems.push_back("the key " + key + " lets " + AccountName(sid) + " " +
                           Rights(ace->Mask & kWriteRights));
    }
}

}  // namespace

bool SettingsAreSafe(std::string& why) {
    why.clear();
    const Trusted trusted;
    std::vector<std::string> problems;
    const wchar_t* judged = nullptr;
    for (const wchar_t* path : kKeys) {
        HKEY key = nullptr;
        LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, READ_CONTROL, &key);
        if (rc == ERROR_FILE_NOT_FOUND) continue;  // judged by the key it would be made in
        judged = path;
        if (rc != ERROR_SUCCESS) {
            problems.push_back("the permissions of " + Display(path) + " cannot be read (" +
                               win::ErrorText(static_cast<DWORD>(rc)) + ")");
            break;
        }
        PSID owner = nullptr;
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        rc = static_cast<LONG>(GetSecurityInfo(key, SE_REGISTRY_KEY,
                                               OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                               nullptr, &dacl, nullptr, &descriptor));
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS)
            problems.push_back("the permissions of " + Display(path) + " cannot be read (" +
                               win::ErrorText(static_cast<DWORD>(rc)) + ")");
        else
            CheckKey(path, owner, dacl, trusted, problems);
        if (descriptor) LocalFree(descriptor);
        break;
    }
    if (problems.empty()) return true;
    why =
        "another user could change the settings in HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Telwick and make the "
        "service run any program as SYSTEM: ";
    for (size_t i = 0; i < problems.size(); ++i) why += (i ? "; " : "") + problems[i];
    why += " (fix: in regedit, Permissions of " + Display(judged) +
           ": give it to Administrators and leave write access to SYSTEM and Administrators only)";
    return false;
}

}  // namespace telwick::platform::registry
