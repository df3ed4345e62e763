#pragma once

namespace zurodid {

// Whether a notification area is running that can take the icon now: a StatusNotifierItem
// host on the D-Bus session bus, or on X11 an XEmbed tray (the owner of _NET_SYSTEM_TRAY_S0).
//
// Asked before the icon is created: Qt picks the icon's kind once per process, when the first
// tray icon is made, so asking Qt itself while no panel runs would fix the kind for good.
bool StatusNotifierHostPresent();
bool XEmbedTrayPresent();

inline bool TrayHostPresent() {
    return StatusNotifierHostPresent() || XEmbedTrayPresent();
}

} // namespace zurodid
