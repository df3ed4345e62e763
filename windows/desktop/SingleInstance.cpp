#include "windows/desktop/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QStandardPaths>

namespace zurodid {

SingleInstance::SingleInstance(const QString& agentFolder) {
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        runtime = QDir::tempPath();
    QByteArray key = QCryptographicHash::hash(QDir(agentFolder).canonicalPath().toUtf8(),
                                              QCryptographicHash::Sha1)
                         .toHex()
                         .left(16);
    lock_ = std::make_unique<QLockFile>(runtime + QStringLiteral("/zurodid-agent-") +
                                        QString::fromLatin1(key) + QStringLiteral(".lock"));
    // A lock left by a crashed agent is taken over (QLockFile checks the process).
    first_ = lock_->tryLock(0);
}

} // namespace zurodid
