#include "windows/desktop/SingleInstance.h"

#include "platform/Log.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

namespace zurodid {
namespace {

const QByteArray kShowRequest = "show\n";
const QByteArray kShown = "shown\n";
// The first agent may still be starting (its lock taken, its diary being opened): a later
// start keeps asking for a while.
constexpr int kAnswerWithinMs = 10000;

} // namespace

SingleInstance::SingleInstance(const QString& agentFolder) {
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        runtime = QDir::tempPath();
    QByteArray key = QCryptographicHash::hash(QDir(agentFolder).canonicalPath().toUtf8(),
                                              QCryptographicHash::Sha1)
                         .toHex()
                         .left(16);
    base_ = runtime + QStringLiteral("/zurodid-agent-") + QString::fromLatin1(key);
    lock_ = std::make_unique<QLockFile>(base_ + QStringLiteral(".lock"));
    // A lock left by a crashed agent is taken over (QLockFile checks the process).
    first_ = lock_->tryLock(0);
}

SingleInstance::~SingleInstance() = default;

void SingleInstance::Listen(std::function<void()> show) {
    const QString name = base_ + QStringLiteral(".socket");
    // We hold the lock: a socket left there is a crashed agent's.
    QLocalServer::removeServer(name);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name)) {
        LogFailure("listening for a second start, which will not show the list window", 0,
                   server_->errorString().toStdString(), name.toStdString());
        return;
    }
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(),
                     [server = server_.get(), show = std::move(show)] {
                         while (QLocalSocket* socket = server->nextPendingConnection()) {
                             QObject::connect(socket, &QLocalSocket::disconnected, socket,
                                              &QObject::deleteLater);
                             QObject::connect(socket, &QLocalSocket::readyRead, socket,
                                              [socket, show] {
                                                  if (!socket->canReadLine())
                                                      return;
                                                  if (socket->readLine() != kShowRequest)
                                                      return;
                                                  // Answered first: the window's load may
                                                  // open a box that waits for the person.
                                                  socket->write(kShown);
                                                  socket->flush();
                                                  QTimer::singleShot(0, socket->parent(), show);
                                              });
                         }
                     });
}

bool SingleInstance::AskTheFirstToShow() const {
    const QString name = base_ + QStringLiteral(".socket");
    QDeadlineTimer deadline(kAnswerWithinMs);
    QString error;
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
            socket.write(kShowRequest);
            socket.flush();
            while (!socket.canReadLine() &&
                   socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                ;
            if (socket.canReadLine() && socket.readLine() == kShown)
                return true;
        }
        error = socket.errorString();
        QThread::msleep(50);
    }
    LogFailure("asking the agent already running here to show its list window", 0,
               error.toStdString(), name.toStdString());
    return false;
}

} // namespace zurodid
