#include "windows/WindowLook.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace zurodid {

QFont FormFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setWeight(QFont::Normal);
    return font;
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
