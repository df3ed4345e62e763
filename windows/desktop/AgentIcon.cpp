#include "windows/desktop/AgentIcon.h"

#include <QIconEngine>
#include <QPainter>
#include <QStandardPaths>
#include <algorithm>
#include <iterator>

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

constexpr int kCarriedSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// The carried pictures, each read only when a size near it is first asked for (a panel wants
// one; reading all eight at start took longer than the rest of the icon's work), under the
// theme icon's name when it is installed: a StatusNotifierItem host draws the name from its
// theme at any size, Qt draws from the pictures, which come from the same drawing.
class CarriedIconEngine final : public QIconEngine {
public:
    explicit CarriedIconEngine(QString name) : name_(std::move(name)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        Read(rect.size() * painter->device()->devicePixelRatio());
        pictures_.paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        Read(size);
        return pictures_.pixmap(size, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        Read(size);
        return pictures_.actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        QList<QSize> sizes;
        if (mode == QIcon::Normal && state == QIcon::Off) {
            for (int side : kCarriedSizes)
                sizes.append(QSize(side, side));
        }
        return sizes;
    }
    QString iconName() override { return name_; }
    QString key() const override { return QStringLiteral("zurodid-carried"); }
    QIconEngine* clone() const override { return new CarriedIconEngine(*this); }

private:
    // The picture drawn for `size`: the smallest not smaller, else the largest.
    void Read(const QSize& size) {
        const int wanted = std::max(size.width(), size.height());
        std::size_t pick = std::size(kCarriedSizes) - 1;
        for (std::size_t i = 0; i < std::size(kCarriedSizes); ++i) {
            if (kCarriedSizes[i] >= wanted) {
                pick = i;
                break;
            }
        }
        if (read_[pick])
            return;
        read_[pick] = true;
        const int side = kCarriedSizes[pick];
        pictures_.addFile(QStringLiteral(":/agent-icon/%1.png").arg(side), QSize(side, side));
    }

    QString name_;
    QIcon pictures_;
    bool read_[std::size(kCarriedSizes)] = {};
};

} // namespace

QIcon AgentIcon() {
    const QString name = QString::fromLatin1(kAgentIconName);
    return QIcon(new CarriedIconEngine(InstalledInTheme(name) ? name : QString()));
}

} // namespace zurodid
