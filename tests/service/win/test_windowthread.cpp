// The window thread of telwick.exe and the lock on the checks, under Wine:
// work posted from other threads runs on the window thread in order, also
// inside a modal loop; an end from another thread closes a modal loop and
// then the message loop; a wait serves messages and keeps the quit for its
// loop; one holder of the lock at a time, and an ended holder's lock is free.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "platform/lifecycle.h"
#include "service/win/checklock.h"
#include "service/win/windowthread.h"

namespace win = telwick::service::win;

namespace {

// An empty modal dialog, as a message box or a settings dialog would run.
INT_PTR CALLBACK EmptyDialog(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }
INT_PTR RunModal() {
    alignas(4) WORD dialog[] = {LOWORD(WS_POPUP), HIWORD(WS_POPUP), 0, 0, 0, 0, 0, 10, 10, 0, 0, 0};
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<DLGTEMPLATE*>(dialog), nullptr,
                                   EmptyDialog, 0);
}

class WindowThread : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(win::CreateHiddenWindow()) << GetLastError(); }
    void TearDown() override {
        if (win::HiddenWindow()) {
            win::EndMessageLoop(0);
            win::RunMessageLoop();
        }
        EXPECT_EQ(win::HiddenWindow(), nullptr);
    }
};

TEST_F(WindowThread, WorkPostedFromOtherThreadsRunsThereInOrderAndAnEndFromThereReturnsItsStatus) {
    std::vector<int> ran;
    std::vector<bool> onWindowThread;
    std::thread other([&] {
        EXPECT_FALSE(win::OnWindowThread());
        for (int i = 0; i < 50; ++i)
            ASSERT_TRUE(win::PostToWindowThread([&, i] {
                ran.push_back(i);
                onWindowThread.push_back(win::OnWindowThread());
            }));
        win::EndMessageLoop(7);
    });
    EXPECT_EQ(win::RunMessageLoop(), 7);
    other.join();
    ASSERT_EQ(ran.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(ran[static_cast<size_t>(i)], i);
    EXPECT_EQ(std::count(onWindowThread.begin(), onWindowThread.end(), false), 0);
    // Once the loop has ended nothing more is taken, and nothing runs.
    EXPECT_FALSE(win::PostToWindowThread([] { ADD_FAILURE() << "ran after the end"; }));
}

TEST_F(WindowThread, AModalLoopServesPostedWorkAndAnEndFromAnotherThreadClosesItFirst) {
    bool servedInModal = false;
    INT_PTR modalResult = -2;
    ASSERT_TRUE(win::PostToWindowThread([&] {
        std::thread([] {
            win::PostToWindowThread([] {});  // a tick's worth of work while the box is open
        }).join();
        ASSERT_TRUE(win::PostToWindowThread([&] {
            servedInModal = true;
            std::thread([] { win::EndMessageLoop(3); }).detach();
        }));
        modalResult = RunModal();  // ends only through the quit message
    }));
    EXPECT_EQ(win::RunMessageLoop(), 3);
    EXPECT_TRUE(servedInModal);
    EXPECT_NE(modalResult, -2);
}

TEST_F(WindowThread, AWaitServesMessagesAndLeavesTheQuitToItsLoop) {
    win::InstallMessagePumpWaiter();
    bool servedInWait = false;
    ULONGLONG waited = 0;
    ASSERT_TRUE(win::PostToWindowThread([&] {
        win::PostToWindowThread([&] { servedInWait = true; });
        win::EndMessageLoop(5);  // a stop that arrives while the back-off waits
        const ULONGLONG start = GetTickCount64();
        telwick::platform::WaitHandlingEvents(300);
        waited = GetTickCount64() - start;
    }));
    EXPECT_EQ(win::RunMessageLoop(), 5);
    win::RemoveMessagePumpWaiter();
    EXPECT_TRUE(servedInWait);
    // A wait never returns early on its own: only a stop request shortens it.
    EXPECT_GE(waited, 250u);
}

TEST(CheckLock, OneHolderAtATimeAndAnEndedHoldersLockIsFree) {
    const std::wstring name = L"Local\\Telwick-checks-test-" + std::to_wstring(GetCurrentProcessId());
    // Another holder: a thread of its own, as a mutex belongs to a thread.
    auto holdsOnOtherThread = [&](bool endsHoldingIt) {
        bool held = false;
        std::thread([&] {
            auto* lock = new win::CheckLock(name.c_str());
            held = lock->Hold();
            // Kept: the thread ends without giving it back, as a killed
            // program would (the object is left on purpose).
            if (!endsHoldingIt) delete lock;
        }).join();
        return held;
    };
    win::CheckLock mine(name.c_str());
    ASSERT_TRUE(mine.Hold());
    EXPECT_TRUE(mine.Hold());  // asked again at the next tick
    EXPECT_FALSE(holdsOnOtherThread(false));
    mine.Release();
    EXPECT_TRUE(holdsOnOtherThread(true));
    EXPECT_TRUE(mine.Hold());  // abandoned by its holder: free
}

}  // namespace
