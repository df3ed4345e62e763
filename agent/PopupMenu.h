#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace zurodid {

// The items of the tray icon's popup menu (mnusubpopup), by their index in the menu; the
// index is what mnusubpopup_Click receives.
enum class PopupItem : std::int16_t {
    Show = 0,
    Refresh = 1,
    Options = 2,
    About = 3,
    SeparatorBeforeRun = 4,
    RunZurodid = 5,
    SeparatorBeforeExit = 6,
    Exit = 7,
};

inline constexpr std::size_t kPopupItemCount = 8;

struct PopupMenuItem {
    PopupItem item;
    std::string_view caption; // "-" is a separator
    bool IsSeparator() const { return caption == "-"; }
};

// The menu top to bottom, each item at its own index.
inline constexpr std::array<PopupMenuItem, kPopupItemCount> kPopupMenu{{
    {PopupItem::Show, "Show"},
    {PopupItem::Refresh, "Refresh"},
    {PopupItem::Options, "Options"},
    {PopupItem::About, "About"},
    {PopupItem::SeparatorBeforeRun, "-"},
    {PopupItem::RunZurodid, "Run Zurodid"},
    {PopupItem::SeparatorBeforeExit, "-"},
    {PopupItem::Exit, "Exit"},
}};

constexpr std::int16_t IndexOf(PopupItem item) {
    return static_cast<std::int16_t>(item);
}

constexpr std::string_view CaptionOf(PopupItem item) {
    return kPopupMenu[static_cast<std::size_t>(IndexOf(item))].caption;
}

namespace popup_menu_checks {
constexpr bool EachItemAtItsIndex() {
    for (std::size_t index = 0; index < kPopupMenu.size(); ++index)
        if (static_cast<std::size_t>(IndexOf(kPopupMenu[index].item)) != index)
            return false;
    return true;
}
static_assert(EachItemAtItsIndex());
} // namespace popup_menu_checks

} // namespace zurodid
