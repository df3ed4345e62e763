#pragma once

#include "agent/Desktop.h"

namespace zurodid {

class SystemClock final : public Clock {
public:
    DateTime Now() override { return LocalNow(); }
};

} // namespace zurodid
