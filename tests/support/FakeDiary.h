#pragma once

#include "platform/RuntimeError.h"
#include "store/Dao.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zurodid::testing {

// An in-memory diary for the paths a real file cannot easily take: a failure raised by any
// visit, at any row.
struct FakeTable {
    std::vector<std::vector<Variant>> rows;
    // Error number raised when row k (0-based) is read, and by which operation.
    std::map<std::size_t, int> failOnRead;
    std::map<std::size_t, int> failOnMoveNext;
};

// A row written in one line: field 0 (the date), field 1 (the text), and the error its reading
// raises, if any.
struct FakeRow {
    Variant date;
    Variant text = std::string("row");
    int error = 0;
};

inline FakeTable TableOf(const std::vector<FakeRow>& rows) {
    FakeTable table;
    for (const FakeRow& row : rows) {
        if (row.error != 0)
            table.failOnRead[table.rows.size()] = row.error;
        table.rows.push_back({row.date, row.text});
    }
    return table;
}

struct FakeDiary {
    std::map<std::string, FakeTable> tables;
    std::string password;
    std::optional<int> failOpen; // error of OpenDatabase
    int opens = 0;
    int workspaces = 0;
};

// A dynaset over a fake table: over a diary's table, which the test may change between opens,
// or over rows of its own.
class FakeRecordset : public Recordset {
public:
    explicit FakeRecordset(const FakeTable& table) : table_(&table) {}
    explicit FakeRecordset(const std::vector<FakeRow>& rows)
        : owned_(std::make_shared<const FakeTable>(TableOf(rows))), table_(owned_.get()) {}

    std::int32_t RecordCount() override { return static_cast<std::int32_t>(table_->rows.size()); }
    void MoveFirst() override {
        if (table_->rows.empty())
            throw RuntimeError(ErrorNumber::NoCurrentRecord, "No current record");
        position_ = 0;
    }
    void MoveNext() override {
        if (auto it = table_->failOnMoveNext.find(position_); it != table_->failOnMoveNext.end())
            throw RuntimeError(it->second, "injected");
        if (position_ >= table_->rows.size())
            throw RuntimeError(ErrorNumber::NoCurrentRecord, "No current record");
        ++position_;
    }
    bool Eof() override { return position_ >= table_->rows.size(); }
    Variant FieldValue(std::int16_t index) override {
        if (position_ >= table_->rows.size())
            throw RuntimeError(ErrorNumber::NoCurrentRecord, "No current record");
        if (auto it = table_->failOnRead.find(position_); it != table_->failOnRead.end())
            throw RuntimeError(it->second, "injected");
        const auto& row = table_->rows[position_];
        return static_cast<std::size_t>(index) < row.size() ? row[static_cast<std::size_t>(index)]
                                                            : Variant{Null{}};
    }

private:
    std::shared_ptr<const FakeTable> owned_;
    const FakeTable* table_;
    std::size_t position_ = SIZE_MAX; // no current row until MoveFirst
};

class FakeDatabase : public Database {
public:
    explicit FakeDatabase(FakeDiary& diary) : diary_(diary) {}
    std::shared_ptr<Recordset> OpenRecordset(std::string_view name, std::int32_t) override {
        auto it = diary_.tables.find(std::string(name));
        if (it == diary_.tables.end())
            throw RuntimeError(ErrorNumber::TableNotFound, "no table");
        return std::make_shared<FakeRecordset>(it->second);
    }

private:
    FakeDiary& diary_;
};

class FakeWorkspace : public Workspace {
public:
    explicit FakeWorkspace(FakeDiary& diary) : diary_(diary) {}
    std::shared_ptr<Database> OpenDatabase(const std::filesystem::path&, bool, bool,
                                           std::string_view connect) override {
        ++diary_.opens;
        if (diary_.failOpen)
            throw RuntimeError(*diary_.failOpen, "injected");
        if (!diary_.password.empty() && connect != ";PWD=" + diary_.password)
            throw RuntimeError(ErrorNumber::NotValidPassword, "Not a valid password.");
        return std::make_shared<FakeDatabase>(diary_);
    }

private:
    FakeDiary& diary_;
};

class FakeEngine : public DBEngine {
public:
    explicit FakeEngine(FakeDiary& diary) : diary_(diary) {}
    std::shared_ptr<Workspace> CreateWorkspace(std::string_view, std::string_view,
                                               std::string_view) override {
        ++diary_.workspaces;
        return std::make_shared<FakeWorkspace>(diary_);
    }

private:
    FakeDiary& diary_;
};

} // namespace zurodid::testing
