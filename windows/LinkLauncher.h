#pragma once

#include "agent/Desktop.h"

#include <filesystem>
#include <string>

namespace zurodid {

// Opens a web address or a "mailto:" address for the About box; faked in tests.
class LinkLauncher {
public:
    virtual ~LinkLauncher() = default;
    virtual StartOutcome Open(const std::string& address) = 0;
};

// The fixed browser when it is there (started through the desktop, the address as its one
// argument, no shell), otherwise the desktop's default handler for the address.
class DesktopLinkLauncher final : public LinkLauncher {
public:
    explicit DesktopLinkLauncher(Desktop& desktop);
    // For tests: the browser to look for instead of the fixed one.
    DesktopLinkLauncher(Desktop& desktop, std::filesystem::path browser);

    StartOutcome Open(const std::string& address) override;

private:
    Desktop& desktop_;
    std::filesystem::path browser_;
};

} // namespace zurodid
