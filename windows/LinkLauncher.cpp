#include "windows/LinkLauncher.h"

#include "windows/AboutTexts.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>
#include <system_error>

namespace zurodid {

DesktopLinkLauncher::DesktopLinkLauncher(Desktop& desktop)
    : DesktopLinkLauncher(desktop, std::filesystem::path(about::kBrowserPath)) {}

DesktopLinkLauncher::DesktopLinkLauncher(Desktop& desktop, std::filesystem::path browser)
    : desktop_(desktop), browser_(std::move(browser)) {}

StartOutcome DesktopLinkLauncher::Open(const std::string& address) {
    // A Windows path is not absolute elsewhere; it must never match a file in the working folder.
    std::error_code ignored;
    if (browser_.is_absolute() && std::filesystem::is_regular_file(browser_, ignored))
        return desktop_.StartProgram(browser_, {address});

    QUrl url(QString::fromStdString(address), QUrl::StrictMode);
    if (!url.isValid())
        return {false, "\"" + address + "\" is not a valid address.", kCannotStartError};
    if (!QDesktopServices::openUrl(url))
        return {false, "No program on this desktop opens \"" + address + "\".", kCannotStartError};
    return {true, {}};
}

} // namespace zurodid
