// The message boxes of the Windows desktop, answered by a second thread as a
// person would: the title and text as asked, the answer of the button, and a
// text too long for the screen shown as its beginning with the whole text in
// the details, the box never taller than two thirds of the screen.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "platform/win/messagebox.h"

namespace platform = telwick::platform;

namespace {

constexpr int IdText = 100, IdDetails = 101, IdToggle = 102;

std::wstring Text(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

int Height(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return r.bottom - r.top;
}

int TwoThirdsOfTheScreen(HWND window) {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
    return (info.rcWork.bottom - info.rcWork.top) * 2 / 3;
}

// Shows the box on this thread while another one finds it, looks at it and
// answers it.
platform::Answer ShowAndAnswer(const std::string& text, platform::Buttons buttons,
                               const std::function<void(HWND)>& person) {
    std::thread answering([&] {
        HWND box = nullptr;
        for (int i = 0; i < 500 && !box; ++i, Sleep(10)) {
            box = FindWindowW(L"#32770", L"Telwick");
            if (box && !IsWindowVisible(box)) box = nullptr;
        }
        ASSERT_NE(box, nullptr) << "no box within 5 s";
        person(box);
    });
    platform::win::DesktopMessageBox host;
    const platform::Answer answer = host.Show(text, "Telwick", buttons);
    answering.join();
    return answer;
}

TEST(DesktopBox, AShortTextIsShownWholeAndTheButtonsAnswer) {
    const std::string text = "Disk C: is 95% full";
    EXPECT_EQ(ShowAndAnswer(text, platform::Buttons::YesNo,
                            [&](HWND box) {
                                EXPECT_EQ(Text(GetDlgItem(box, IdText)), L"Disk C: is 95% full");
                                EXPECT_EQ(GetDlgItem(box, IdToggle), nullptr);
                                PostMessageW(box, WM_COMMAND, IDYES, 0);
                            }),
              platform::Answer::Yes);
    // Esc (or the close box) answers a question with No, a notice with OK.
    EXPECT_EQ(ShowAndAnswer(text, platform::Buttons::YesNo,
                            [](HWND box) { PostMessageW(box, WM_COMMAND, IDCANCEL, 0); }),
              platform::Answer::No);
    EXPECT_EQ(ShowAndAnswer(text, platform::Buttons::Ok,
                            [](HWND box) { PostMessageW(box, WM_COMMAND, IDCANCEL, 0); }),
              platform::Answer::Ok);
}

TEST(DesktopBox, ALongTextShowsItsBeginningAndTheWholeTextBehindDetailsWithinTheScreen) {
    std::string text = "Backup of FILESERVER failed:\n";
    for (int i = 0; i < 400; ++i) text += " D:\\Shares\\Accounting\\2026\\invoice-" + std::to_string(i) + ".pdf,";
    // A character outside the basic plane at every place a cut may fall.
    for (int i = 0; i < 300; ++i) text += "\xF0\x9F\x93\x84";
    ShowAndAnswer(text, platform::Buttons::Ok, [&](HWND box) {
        const std::wstring head = Text(GetDlgItem(box, IdText));
        const std::wstring whole = Text(GetDlgItem(box, IdDetails));
        ASSERT_GT(head.size(), 100u);
        EXPECT_EQ(head.substr(head.size() - 2), L" \u2026");
        EXPECT_FALSE(IS_HIGH_SURROGATE(head[head.size() - 3]));
        EXPECT_EQ(whole.substr(0, 30), L"Backup of FILESERVER failed:\r\n");
        EXPECT_EQ(whole.size(), 1u + MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0));
        EXPECT_LE(Height(box), TwoThirdsOfTheScreen(box));
        SendMessageW(box, WM_COMMAND, IdToggle, 0);  // "Show Details..."
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(box, IdDetails)));
        EXPECT_LE(Height(box), TwoThirdsOfTheScreen(box));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
}

}  // namespace
