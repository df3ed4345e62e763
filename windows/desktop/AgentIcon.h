#pragma once

#include <QIcon>

namespace zurodid {

// The icon's name in the desktop's icon theme, as the installer and the menu entry give it.
inline constexpr char kAgentIconName[] = "zurodid-agent";

// The tray's icon: the pictures the executable carries, 16 to 256 px, so that every panel size
// gets a sharp one; named as the installed theme icon when there is one, which a
// StatusNotifierItem host finds by its name and draws at any size.
QIcon AgentIcon();

} // namespace zurodid
