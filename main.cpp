// Zurodid Agent: the diary's reminder agent in the notification area.
#include "agent/SystemClock.h"
#include "agent/frmAgent.h"
#include "platform/CommandLine.h"
#include "platform/Files.h"
#include "platform/RuntimeError.h"
#include "store/AgentSettings.h"
#include "store/Dao.h"
#include "store/DiaryStore.h"
#include "windows/WindowRegistry.h"
#include "windows/desktop/AgentIcon.h"
#include "windows/desktop/QtDesktop.h"
#include "windows/desktop/SingleInstance.h"

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>

namespace {

// The agent's own options, taken out of argv so that the toolkit sees only the rest; --help,
// --version and a wrong option end the program here.
zurodid::AgentOptions ReadOptionsOrExit(int& argc, char* argv[]) {
    try {
        zurodid::AgentOptions options = zurodid::ParseAgentOptions({argv, argv + argc});
        std::size_t kept = 0;
        for (int i = 0; i < argc; ++i)
            if (kept < options.remaining.size() && options.remaining[kept] == argv[i])
                argv[kept++] = argv[i];
        argc = static_cast<int>(kept);
        argv[argc] = nullptr;
        if (options.help)
            std::fputs(zurodid::AgentUsage().c_str(), stdout);
        else if (options.version)
            std::fputs("zurodid-agent " ZURODID_VERSION "\n", stdout);
        if (options.help || options.version)
            std::exit(std::fflush(stdout) == 0 && !std::ferror(stdout) ? EXIT_SUCCESS
                                                                       : EXIT_FAILURE);
        return options;
    } catch (const zurodid::OptionError& error) {
        std::fprintf(stderr, "zurodid-agent: %s\n%s", error.what(), zurodid::AgentUsage().c_str());
        std::exit(2);
    }
}

} // namespace

int main(int argc, char* argv[]) {
    using namespace zurodid;
    // Started by the agent as its own diary reader process: serves reads, never returns. Before
    // the options: the reader's arguments are none of the agent's.
    ServeDiaryReaderIfAsked(argc, argv);
    const AgentOptions options = ReadOptionsOrExit(argc, argv);
    // The diary and the settings: in --folder's folder, else beside the executable.
    const Module1::FolderSource agentFolder = [folder = options.folder] {
        return folder.empty() ? ExecutableFolder() : folder;
    };
    // Qt gives a StatusNotifierItem host the application name as the item's title (and id):
    // the user sees "Zurodid Agent" there. The desktop file name is the Wayland app id and the
    // name of the installed menu entry and icon.
    QApplication::setApplicationName(QString::fromUtf8(kAgentTitle.data(), kAgentTitle.size()));
    QApplication::setDesktopFileName(QStringLiteral("zurodid-agent"));
    // A later start (from the menu, say) only asks the running agent to show what it has: it
    // reads nothing and starts no reader.
    SingleInstance instance(QString::fromStdString(agentFolder().string()));
    if (!instance.IsFirst()) {
        instance.AskTheFirstToShow();
        return 0;
    }
    StartDiaryReader();
    ProcessState state(agentFolder, nullptr);
    // The diary's first reads run in that process while the toolkit starts; start-up takes
    // them if the file has not changed meanwhile. Whether start-up shows the list window: a
    // value that cannot be read is reported by start-up's own reading of it.
    bool listWindowAtStart = false;
    try {
        listWindowAtStart = ReadSetting(state.module1, "StartUpRemind") == 1;
    } catch (const RuntimeError&) {
    }
    const auto diaryPrefetch = PrefetchDiary(agentFolder() / kDiaryFileName, listWindowAtStart);
    state.DBEngine = MakeJetEngine(diaryPrefetch);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/zurodid-agent.png")));

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
    EndOfStartUpReads(*diaryPrefetch);
    return QApplication::exec();
}
