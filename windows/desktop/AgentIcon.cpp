#include "windows/desktop/AgentIcon.h"

#include <QIconEngine>
#include <QPainter>
#include <QStandardPaths>

namespace zurodid {
namespace {

// Whether the installer put the icon into the hicolor theme of a data folder, where hosts look
// it up by name. Asked of the file itself: Qt's theme lookup reads the index of every theme on
// the system, which cost a tenth of the agent's start.
bool InstalledInTheme(const QString& name) {
    return !QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                   QStringLiteral("icons/hicolor/256x256/apps/%1.png").arg(name))
                .isEmpty();
}

// The carried pictures under the theme icon's name: a StatusNotifierItem host draws the name
// from its theme at any size, Qt draws from the pictures, which come from the same drawing.
class NamedIconEngine final : public QIconEngine {
public:
    NamedIconEngine(QIcon pictures, QString name)
        : pictures_(std::move(pictures)), name_(std::move(name)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        pictures_.paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return pictures_.pixmap(size, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return pictures_.actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return pictures_.availableSizes(mode, state);
    }
    QString iconName() override { return name_; }
    QString key() const override { return QStringLiteral("zurodid-named"); }
    QIconEngine* clone() const override { return new NamedIconEngine(pictures_, name_); }

private:
    QIcon pictures_;
    QString name_;
};

} // namespace

QIcon AgentIcon() {
    QIcon carried;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        carried.addFile(QStringLiteral(":/agent-icon/%1.png").arg(size), QSize(size, size));
    const QString name = QString::fromLatin1(kAgentIconName);
    if (!InstalledInTheme(name))
        return carried;
    return QIcon(new NamedIconEngine(carried, name));
}

} // namespace zurodid
