// UTF-8 inside the program, UTF-16 at the system's wide-character functions.
#pragma once

#include <windows.h>

#include <string>

namespace telwick::platform::win {

// False for bytes that are no UTF-8 (nothing is guessed or replaced).
inline bool Widen(const std::string& text, std::wstring& out) {
    out.clear();
    if (text.empty()) return true;
    const int n =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return false;
    out.resize(static_cast<size_t>(n));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                               out.data(), n) == n;
}

// A lone surrogate becomes U+FFFD.
inline std::string Narrow(const wchar_t* text, size_t size) {
    std::string out;
    if (size == 0) return out;
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return out;
    out.resize(static_cast<size_t>(n));
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), out.data(), n, nullptr, nullptr);
    return out;
}

inline std::string Narrow(const std::wstring& text) { return Narrow(text.data(), text.size()); }

// The system's text for an error code, without its line end.
inline std::string ErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = n && buffer ? Narrow(buffer, n) : std::string();
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text.empty() ? "error " + std::to_string(code) : text + " (error " + std::to_string(code) + ")";
}

}  // namespace telwick::platform::win
