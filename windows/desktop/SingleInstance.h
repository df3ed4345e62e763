#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace zurodid {

// One agent per folder: a second one would raise every reminder twice. The lock lives in the
// user's runtime folder, named after the agent's folder, and dies with the process.
//
// A second start (from the menu, say) asks the first agent to show its list window, as a left
// click on its icon does, and ends: the person sees that the agent runs. They speak over a
// local socket of the system's own: Qt's network module would load a dozen libraries (Kerberos,
// proxies) at every start for one line each way.
class SingleInstance {
public:
    explicit SingleInstance(const QString& agentFolder);
    ~SingleInstance();
    bool IsFirst() const { return first_; }

    // The first agent: `show` runs, on the event loop, for each later start.
    void Listen(std::function<void()> show);
    // A later start: asks the first agent to show its list window; false when it did not
    // answer in time (the log says so).
    bool AskTheFirstToShow() const;

private:
    QString base_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QObject> server_; // the listening socket and the requests being read
    bool first_ = false;
};

} // namespace zurodid
