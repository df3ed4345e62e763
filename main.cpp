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
    // Started by the agent as its own diary reader process: serves reads, never returns.
    ServeDiaryReaderIfAsked(argc, argv);
    // Qt gives a StatusNotifierItem host the application name as the item's title (and id):
    // the user sees "Zurodid Agent" there. The desktop file name is the Wayland app id and the
    // name of the installed menu entry and icon.
    QApplication::setApplicationName(QString::fromUtf8(kAgentTitle.data(), kAgentTitle.size()));
    QApplication::setDesktopFileName(QStringLiteral("zurodid-agent"));
    // A later start (from the menu, say) only asks the running agent to show what it has: it
    // reads nothing and starts no reader.
    SingleInstance instance(QString::fromStdString(ExecutableFolder().string()));
    if (!instance.IsFirst()) {
        instance.AskTheFirstToShow();
        return 0;
    }
    StartDiaryReader();
    // The diary's first reads run in that process while the toolkit starts; start-up takes
    // them if the file has not changed meanwhile.
    auto diaryPrefetch = PrefetchDiary(ExecutableFolder() / kDiaryFileName);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
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
