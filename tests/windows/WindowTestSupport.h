#pragma once

#include "agent/Desktop.h"
#include "platform/RuntimeError.h"
#include "store/Dao.h"
#include "store/ProcessState.h"
#include "support/FakeDesktop.h"
#include "support/FakeDiary.h"
#include "support/FakeLinks.h"
#include "support/TempFolder.h"

#include <QCoreApplication>
#include <QEvent>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zurodid::test {

using zurodid::testing::At;
using zurodid::testing::FakeClock;
using zurodid::testing::FakeDesktop;
using zurodid::testing::FakeLinkLauncher;
using zurodid::testing::FakeRecordset;
using zurodid::testing::FakeRow;
using zurodid::testing::ReadBytes;
using zurodid::testing::TempFolder;
using zurodid::testing::WriteBytes;

inline std::unique_ptr<ProcessState> MakeState(std::filesystem::path folder) {
    return std::make_unique<ProcessState>([folder] { return folder; }, nullptr);
}

// Runs the deletions that closed windows asked for.
inline void DeleteClosedWindows() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace zurodid::test
