// One Telwick checks at a time on a machine. The service (session 0) and the
// program an administrator starts in a session both read the same monitors
// from HKLM; if both checked, every event would be acted on twice. Whoever
// holds the named mutex "Global\Telwick-checks" checks; the other keeps its
// timer, icon and menu but skips its checks and takes the lock over at a later
// tick once the holder has ended (an ended holder's lock is free at once,
// abandoned or released).
#pragma once

#include <windows.h>

namespace telwick::service::win {

inline constexpr const wchar_t* CheckLockName = L"Global\\Telwick-checks";

class CheckLock {
public:
    explicit CheckLock(const wchar_t* name = CheckLockName) : name_(name) {}
    ~CheckLock();
    CheckLock(const CheckLock&) = delete;
    CheckLock& operator=(const CheckLock&) = delete;

    // True when this process holds the lock, taking it when it is free. Never
    // waits. Call it on one thread only (a mutex belongs to the thread that
    // took it): the window thread.
    bool Hold();
    bool held() const { return held_; }
    // Gives the lock back (the program ends).
    void Release();

private:
    const wchar_t* name_;
    HANDLE mutex_ = nullptr;
    bool held_ = false;
};

}  // namespace telwick::service::win
