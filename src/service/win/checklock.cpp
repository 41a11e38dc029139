#include "service/win/checklock.h"

#include <sddl.h>

namespace telwick::service::win {

CheckLock::~CheckLock() { Release(); }

bool CheckLock::Hold() {
    if (held_) return true;
    if (!mutex_) {
        // SYSTEM and the administrators may take it, whichever of the service
        // and the program creates it first.
        SECURITY_ATTRIBUTES security{};
        security.nLength = sizeof(security);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;SY)(A;;GA;;;BA)", SDDL_REVISION_1,
                                                                 &descriptor, nullptr))
            security.lpSecurityDescriptor = descriptor;
        mutex_ = CreateMutexW(&security, FALSE, name_);
        if (!mutex_) mutex_ = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name_);
        if (descriptor) LocalFree(descriptor);
        // Neither: someone holds a lock this process may not even open (a
        // user without administrator rights beside the service); no checks.
        if (!mutex_) return false;
    }
    const DWORD result = WaitForSingleObject(mutex_, 0);
    held_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    return held_;
}

void CheckLock::Release() {
    if (held_ && mutex_) ReleaseMutex(mutex_);
    held_ = false;
    if (mutex_) CloseHandle(mutex_);
    mutex_ = nullptr;
}

}  // namespace telwick::service::win
