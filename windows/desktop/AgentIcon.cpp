#include "windows/desktop/AgentIcon.h"

namespace zurodid {

QIcon AgentIcon() {
    QIcon carried;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        carried.addFile(QStringLiteral(":/agent-icon/%1.png").arg(size), QSize(size, size));
    const QString name = QString::fromLatin1(kAgentIconName);
    if (!QIcon::hasThemeIcon(name))
        return carried;
    return QIcon::fromTheme(name, carried);
}

} // namespace zurodid
