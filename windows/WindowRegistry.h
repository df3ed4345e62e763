#pragma once

#include "agent/Desktop.h"
#include "store/ProcessState.h"
#include "windows/LinkLauncher.h"

#include <QPointer>
#include <QWidget>
#include <array>

class QEventLoop;

namespace zurodid {

class frmList;

// The shared window instances, addressed by name. Showing a window that is not loaded creates
// it and runs its load handler; showing a loaded one only brings it forward; closing a window
// unloads it, so the next showing loads it afresh.
class WindowRegistry {
public:
    WindowRegistry(ProcessState& state, Desktop& desktop, Clock& clock, LinkLauncher& links);
    ~WindowRegistry();
    WindowRegistry(const WindowRegistry&) = delete;
    WindowRegistry& operator=(const WindowRegistry&) = delete;

    // Modal returns when the window has closed.
    void Show(WindowName window, ShowMode mode);
    bool IsLoaded(WindowName window) const;
    QWidget* Window(WindowName window) const; // nullptr when not loaded
    // The shared list window; created and loaded hidden when not loaded.
    frmList& List();

private:
    // Creates the window and runs its load handler; returns it even if that unloaded it.
    QWidget* Load(WindowName window);
    QWidget* Create(WindowName window);
    void Unloaded(WindowName window);

    ProcessState& state_;
    Desktop& desktop_;
    Clock& clock_;
    LinkLauncher& links_;
    std::array<QPointer<QWidget>, 4> windows_;
    std::array<QEventLoop*, 4> modalLoops_{};
};

} // namespace zurodid
