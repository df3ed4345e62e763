#pragma once

#include <QPoint>
#include <cstdint>
#include <optional>
#include <string_view>

class QWidget;

namespace zurodid::x11 {

// Everything the agent says to an X server, in one place. Each call does nothing (or answers
// false) when the application does not run on X11.

// Whether someone owns the selection (a tray's _NET_SYSTEM_TRAY_S0).
bool SelectionHasOwner(std::string_view selection);

// Adds StructureNotify to this connection's mask on the root window, keeping Qt's; the root
// window's id, or 0.
std::uint32_t WatchRootWindow();
// The atom of `name`, or 0.
std::uint32_t Atom(std::string_view name);
// Whether `event` (an xcb_generic_event_t from a native event filter) is the MANAGER message a
// new owner of `selection` sends to the root window.
bool IsManagerMessage(const void* event, std::uint32_t root, std::uint32_t manager,
                      std::uint32_t selection);

// The window the person works in is fullscreen: a window above all others, where even a
// keep-above box is not seen.
bool ActiveWindowIsFullscreen();

// EWMH's demands-attention state on a box's window, before it is mapped; once it is mapped,
// the state asked again of the window manager (some drop what they find on a window they take
// in) and ICCCM's urgency hint (GNOME Shell looks up the window's application when the hint
// comes, and finds none for a window it has not taken in yet).
void MarkUrgentBeforeMapping(QWidget& box);
void SetUrgencyHint(QWidget& box);
void DemandAttentionOfMappedWindow(QWidget& box);

// The running window manager draws minimise on a box's frame whatever its Motif hints ask (it
// names itself on _NET_SUPPORTING_WM_CHECK): openbox leaves out only a fixed-size window's
// maximise, KWin keeps both.
bool FrameIgnoresMotifFunctions();

// Where the X server has the box's top left corner on the screen.
std::optional<QPoint> ScreenPosition(QWidget& box);

// Brings a box forward and gives it the focus, as the person asked for it: through the window
// manager, as a pager asks (an application's own request may be refused as focus stealing
// while a fullscreen window has the focus).
void ActivateAsAsked(QWidget& box);

// Sends what is queued to the server without reading anything back.
void Flush();

// From now on each window the application makes carries its desktop file name
// (_KDE_NET_WM_DESKTOP_FILE), as Wayland's app id does: KWin finds the entry's name and icon
// through it. Qt sets it only through KDE's own platform theme.
void NameWindowsAfterDesktopEntry();

} // namespace zurodid::x11
