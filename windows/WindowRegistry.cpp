#include "windows/WindowRegistry.h"

#include "windows/frmAbout.h"
#include "windows/frmList.h"
#include "windows/frmLogIn.h"
#include "windows/frmOption.h"

#include <QDialog>
#include <QEventLoop>

namespace zurodid {
namespace {

std::size_t Slot(WindowName window) {
    return static_cast<std::size_t>(window);
}

} // namespace

WindowRegistry::WindowRegistry(ProcessState& state, Desktop& desktop, Clock& clock,
                               LinkLauncher& links)
    : state_(state), desktop_(desktop), clock_(clock), links_(links) {}

WindowRegistry::~WindowRegistry() {
    for (QPointer<QWidget>& window : windows_)
        delete window.data();
}

bool WindowRegistry::IsLoaded(WindowName window) const {
    return Window(window) != nullptr;
}

QWidget* WindowRegistry::Window(WindowName window) const {
    return windows_[Slot(window)].data();
}

frmList& WindowRegistry::List() {
    QWidget* window = Window(WindowName::frmList);
    if (!window)
        window = Load(WindowName::frmList);
    return static_cast<frmList&>(*window);
}

void WindowRegistry::Show(WindowName name, ShowMode mode) {
    if (!IsLoaded(name))
        Load(name);
    QPointer<QWidget> window = Window(name);
    if (!window)
        return; // unloaded while its load handler ran (a message box let the user close it)
    if (mode == ShowMode::Modeless) {
        window->show();
        window->raise();
        window->activateWindow();
        return;
    }
    if (auto* dialog = qobject_cast<QDialog*>(window.data())) {
        dialog->exec();
        return;
    }
    // A plain window shown modal: wait until it is unloaded.
    QEventLoop untilUnloaded;
    window->setWindowModality(Qt::ApplicationModal);
    window->show();
    modalLoops_[Slot(name)] = &untilUnloaded;
    untilUnloaded.exec();
    modalLoops_[Slot(name)] = nullptr;
}

QWidget* WindowRegistry::Load(WindowName name) {
    QWidget* window = Create(name);
    windows_[Slot(name)] = window;
    if (name == WindowName::frmList)
        static_cast<frmList*>(window)->Form_Load();
    else if (name == WindowName::frmOption)
        static_cast<frmOption*>(window)->Form_Load();
    // Still alive even when unloaded meanwhile: deletion waits for the event loop.
    return window;
}

QWidget* WindowRegistry::Create(WindowName name) {
    auto unloaded = [this, name] { Unloaded(name); };
    switch (name) {
    case WindowName::frmList: {
        auto* window = new frmList(state_, desktop_, clock_);
        QObject::connect(window, &frmList::Unloaded, window, unloaded);
        return window;
    }
    case WindowName::frmLogIn: {
        auto* window = new frmLogIn(state_, desktop_);
        QObject::connect(window, &frmLogIn::Unloaded, window, unloaded);
        return window;
    }
    case WindowName::frmOption: {
        auto* window = new frmOption(state_, desktop_, [this] { List().ShowAll(); });
        QObject::connect(window, &frmOption::Unloaded, window, unloaded);
        return window;
    }
    case WindowName::frmAbout: {
        auto* window = new frmAbout(desktop_, links_);
        QObject::connect(window, &frmAbout::Unloaded, window, unloaded);
        return window;
    }
    }
    return nullptr;
}

void WindowRegistry::Unloaded(WindowName name) {
    QPointer<QWidget>& slot = windows_[Slot(name)];
    if (QWidget* window = slot.data()) {
        slot.clear();
        window->hide();
        window->deleteLater();
    }
    if (QEventLoop* loop = modalLoops_[Slot(name)])
        loop->quit();
}

} // namespace zurodid
