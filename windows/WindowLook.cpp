#include "windows/WindowLook.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

namespace zurodid {

QFont FormFont() {
    QFont font;
    // Asked for first, then the narrow sans families whose widths keep the fixed layouts
    // readable where it is missing; Thai text falls back to a Thai font by script.
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Tahoma"), QStringLiteral("Arial"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setWeight(QFont::Normal);
    return font;
}

void ShowNoWindowIcon(QWidget& window) {
    QPixmap blank(16, 16);
    blank.fill(Qt::transparent);
    window.setWindowIcon(QIcon(blank));
}

void PrepareFixedWindow(QWidget& window, int clientWidthTwips, int clientHeightTwips) {
    window.setFont(FormFont());
    QSize client(Twips(clientWidthTwips), Twips(clientHeightTwips));
    window.setFixedSize(client);
    QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QRect area = screen->availableGeometry();
        window.move(area.x() + (area.width() - client.width()) / 2,
                    area.y() + (area.height() - client.height()) / 2);
    }
}

} // namespace zurodid
