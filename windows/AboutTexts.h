#pragma once

#include <string_view>

namespace zurodid::about {

// The About box's own texts, kept together so that a change of address is made once.
inline constexpr std::string_view kProductLine = "Zurodid Agent";
inline constexpr std::string_view kCredit = "Zurodid Agent developers";
inline constexpr std::string_view kEmailAddress = "zurodid@example.org";
// The address shown on the web link and the one a click opens differ on purpose: the shown
// one is short enough for the label.
inline constexpr std::string_view kShownWebAddress = "zurodid.example.org";
inline constexpr std::string_view kOpenedWebAddress = "https://zurodid.example.org/agent/";

// The browser that the diary's own installation put on Windows machines; used only where it
// exists, so that a missing browser never becomes a failed start.
inline constexpr std::string_view kBrowserPath =
    "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE";

} // namespace zurodid::about
