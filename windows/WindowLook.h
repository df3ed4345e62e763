#pragma once

#include <QFont>

class QWidget;

namespace zurodid {

// Layout measures are given in twips; 15 twips make one pixel at 96 dpi.
constexpr int Twips(int twips) {
    return twips / 15;
}

// The windows' font: "MS Sans Serif" 8.25 pt, or the nearest narrow sans family where it is
// missing (Linux).
QFont FormFont();

// For a window that has no icon: a blank one keeps the application's icon out of its title.
void ShowNoWindowIcon(QWidget& window);

// What every window does when it is loaded: the form font, a fixed client size, centred on
// the screen that holds it.
void PrepareFixedWindow(QWidget& window, int clientWidthTwips, int clientHeightTwips);

} // namespace zurodid
