#pragma once

#include "windows/LinkLauncher.h"

#include <string>
#include <vector>

namespace zurodid::testing {

// Stands in for the browser: records the addresses the windows open.
class FakeLinkLauncher final : public LinkLauncher {
public:
    StartOutcome Open(const std::string& address) override {
        opened.push_back(address);
        return outcome;
    }

    std::vector<std::string> opened;
    StartOutcome outcome{true, {}};
};

} // namespace zurodid::testing
