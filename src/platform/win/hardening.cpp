// Process hardening on Windows. What fits here of what Linux does:
//   - no error dialog on a crash or a missing disk: a service has nobody to
//     answer it, and a box waiting would hold the process (and so the stop)
//     for ever. A crash ends the process, and the service manager sees it;
//   - a crash report, should one be sent or written, carries no heap, so the
//     login the process holds in clear stays out of it (core dumps on Linux);
//   - other processes of the same user can no longer read or write the
//     process's memory, nor change who may: the process object's access list
//     allows them to query, wait for and end it only (as Linux's "not
//     dumpable"). The local system and programs with the debug privilege (the
//     administrators' root) still can, as on Linux;
//   - the current folder is not searched for DLLs, and a damaged heap ends the
//     process.
#include "platform/hardening.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>

// kernel32 has it since Vista; mingw-w64's werapi.h does not compile on its own.
extern "C" HRESULT WINAPI WerSetFlags(DWORD flags);
constexpr DWORD WerFaultReportingNoHeap = 1;  // WER_FAULT_REPORTING_FLAG_NOHEAP

namespace telwick {

namespace {

// The SID of the process's user in its text form, or empty.
std::wstring UserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::wstring sid;
    if (size > 0) {
        std::string buffer(size, '\0');
        if (GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
            wchar_t* text = nullptr;
            if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
                sid = text;
                LocalFree(text);
            }
        }
    }
    CloseHandle(token);
    return sid;
}

bool RestrictProcessAccess() {
    const std::wstring user = UserSid();
    if (user.empty()) return false;
    // Query (limited), wait and end: 0x1000 | 0x100000 | 0x1. The owner's
    // implicit right to change the list is taken away (OW: read it only).
    const std::wstring sddl = L"D:P(A;;GA;;;SY)(A;;0x101001;;;BA)(A;;0x20000;;;OW)(A;;0x101001;;;" + user + L")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    bool ok = GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present &&
              SetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              dacl, nullptr) == ERROR_SUCCESS;
    LocalFree(descriptor);
    return ok;
}

}  // namespace

bool ProtectProcessSecrets() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    WerSetFlags(WerFaultReportingNoHeap);
    SetDllDirectoryW(L"");
    HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
    return RestrictProcessAccess();
}

}  // namespace telwick
