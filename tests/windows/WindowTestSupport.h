#pragma once

#include "agent/Desktop.h"
#include "platform/RuntimeError.h"
#include "store/Dao.h"
#include "store/ProcessState.h"
#include "support/TempFolder.h"

#include <QCoreApplication>
#include <QEvent>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zurodid::test {

// Records what the windows ask of the desktop.
class FakeDesktop final : public Desktop {
public:
    struct Box {
        std::string text;
        int flags;
        std::string title;
    };
    struct Start {
        std::filesystem::path program;
        std::vector<std::string> arguments;
    };
    std::vector<Box> boxes;
    std::vector<Start> starts;
    int endProcessCalls = 0;
    StartOutcome startOutcome{true, {}};

    void RegisterTrayIcon(const TrayIconRecordA&) override {}
    void Show(WindowName, ShowMode) override {}
    void MsgBox(std::string_view text, int flags, std::string_view title) override {
        boxes.push_back({std::string(text), flags, std::string(title)});
    }
    void EnableTimer() override {}
    void PopupMenu() override {}
    double TwipsPerPixelX() override { return 15; }
    StartOutcome StartProgram(const std::filesystem::path& program,
                              const std::vector<std::string>& arguments) override {
        starts.push_back({program, arguments});
        return startOutcome;
    }
    void EndProcess() override { ++endProcessCalls; }
};

class FixedClock final : public Clock {
public:
    explicit FixedClock(DateTime now) : now_(now) {}
    DateTime Now() override { return now_; }
    void Set(DateTime now) { now_ = now; }

private:
    DateTime now_;
};

inline DateTime At(int y, unsigned m, unsigned d, int hour = 0, int minute = 0) {
    using namespace std::chrono;
    return MakeDateTime(year{y} / month{m} / day{d}, hours{hour} + minutes{minute});
}

// A table as a dynaset walks it; a row may raise an error when its fields are read.
struct FakeRow {
    Variant date;
    Variant text = std::string("row");
    int error = 0;
};

class FakeRecordset final : public Recordset {
public:
    explicit FakeRecordset(std::vector<FakeRow> rows) : rows_(std::move(rows)) {}
    std::int32_t RecordCount() override { return static_cast<std::int32_t>(rows_.size()); }
    void MoveFirst() override {
        if (rows_.empty())
            throw RuntimeError(ErrorNumber::NoCurrentRecord, "No current record.");
        position_ = 0;
    }
    void MoveNext() override {
        if (position_ >= rows_.size())
            throw RuntimeError(ErrorNumber::NoCurrentRecord, "No current record.");
        ++position_;
    }
    bool Eof() override { return position_ >= rows_.size(); }
    Variant FieldValue(std::int16_t index) override {
        if (position_ >= rows_.size())
            throw RuntimeError(ErrorNumber::NoCurrentRecord, "No current record.");
        const FakeRow& row = rows_[position_];
        if (row.error != 0)
            throw RuntimeError(row.error, "injected");
        return index == 0 ? row.date : row.text;
    }

private:
    std::vector<FakeRow> rows_;
    std::size_t position_ = 0;
};

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
