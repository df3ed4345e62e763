// Zurodid Agent: the diary's reminder agent in the notification area.
#include "agent/SystemClock.h"
#include "agent/frmAgent.h"
#include "platform/Files.h"
#include "store/Dao.h"
#include "store/DiaryStore.h"
#include "windows/WindowRegistry.h"
#include "windows/desktop/AgentIcon.h"
#include "windows/desktop/QtDesktop.h"
#include "windows/desktop/SingleInstance.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    using namespace zurodid;
    // Before anything starts a thread: the diary's reading children are forked from it.
    StartDiaryReader();
    // The diary's first reads run in that process while the toolkit starts; start-up takes
    // them if the file has not changed meanwhile.
    auto diaryPrefetch = PrefetchDiary(ExecutableFolder() / kDiaryFileName);
    QApplication app(argc, argv);
    // Qt gives a StatusNotifierItem host the application name as the item's title (and id):
    // the user sees "Zurodid Agent" there. The desktop file name is the Wayland app id and the
    // name of the installed menu entry and icon.
    QApplication::setApplicationName(QString::fromUtf8(kAgentTitle.data(), kAgentTitle.size()));
    QApplication::setDesktopFileName(QStringLiteral("zurodid-agent"));
    QApplication::setQuitOnLastWindowClosed(false);
    SingleInstance instance(QString::fromStdString(ExecutableFolder().string()));
    if (!instance.IsFirst()) {
        // Started again (from the menu, say): the running agent shows what it has.
        instance.AskTheFirstToShow();
        return 0;
    }
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/zurodid-agent.png")));

    ProcessState state(&ExecutableFolder, MakeJetEngine(std::move(diaryPrefetch)));
    state.module1.RemoveUnfinishedWrites();
    SystemClock clock;
    QtDesktop desktop(AgentIcon());
    frmAgent agent(state, desktop, clock);
    DesktopLinkLauncher links(desktop);
    WindowRegistry windows(state, desktop, clock, links);
    desktop.Attach(agent,
                   [&windows](WindowName window, ShowMode mode) { windows.Show(window, mode); });

    // A later start asks for the list window as a left click on the icon does.
    instance.Listen([&desktop] { desktop.OnActivated(QSystemTrayIcon::Trigger); });
    agent.Form_Load();
    return QApplication::exec();
}
