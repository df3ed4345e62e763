#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace zurodid {

inline constexpr std::uint32_t NIM_ADD = 0;
inline constexpr std::uint32_t NIF_MESSAGE = 1, NIF_ICON = 2, NIF_TIP = 4;
inline constexpr std::uint32_t WM_MOUSEMOVE = 0x200;

// The tray icon's registration record, tip held as 64 wide characters.
struct TrayIconRecord {
    std::uint32_t cbSize = 0;
    std::uint32_t hwnd = 0;
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;
    std::uint32_t uCallbackMessage = 0;
    std::uint32_t hIcon = 0;
    std::array<char16_t, 64> szTip{};
};

// Its single-byte form: six 32-bit fields and 64 bytes of tip, 88 bytes in all.
struct TrayIconRecordA {
    std::uint32_t cbSize = 0;
    std::uint32_t hwnd = 0;
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;
    std::uint32_t uCallbackMessage = 0;
    std::uint32_t hIcon = 0;
    std::array<char, 64> szTip{};

    // The shown tip: the text up to its first NUL.
    std::string Tip() const;
};
static_assert(sizeof(TrayIconRecordA) == 88);

TrayIconRecordA SingleByteForm(const TrayIconRecord& record);
TrayIconRecord WideForm(const TrayIconRecordA& record);

} // namespace zurodid
