#include "store/jet/JetEngine.h"

#include "platform/RuntimeError.h"
#include "store/jet/JetErrors.h"
#include "store/jet/JetHeader.h"

#include <algorithm>
#include <limits>
#include <malloc.h>
#include <optional>

namespace zurodid {
namespace jet {
namespace {

// A dynaset over one table: the rows (bookmarks) are fixed at the open. A walk, from
// MoveFirst to EOF, sees one state of the file: the one at its MoveFirst, so a change by the
// diary program is seen at the next walk, and a row deleted since the open raises 3167 when a
// walk reaches it. A walk never mixes two states, and costs one read, not one a row. The rows
// are not kept between walks (the agent's lists hold what it shows): the rows read at the open
// serve the first walk, and every later walk reads the file afresh, or takes an early read kept
// for it when the file has held still since.
class JetRecordset final : public Recordset {
public:
    JetRecordset(std::filesystem::path file, std::string table, ReaderOptions options,
                 std::shared_ptr<TablePrefetch> prefetch)
        : file_(std::move(file)), table_(std::move(table)), options_(std::move(options)),
          prefetch_(std::move(prefetch)) {
        Adopt(Read());
        for (std::size_t i = 0; i < RowCount(); ++i) {
            openRows_.push_back(Rows().Bookmark(RowAt(i)));
        }
        openRows_.shrink_to_fit();
    }
    JetRecordset(const JetRecordset&) = delete; // openRow_ reads this one's openRows_
    JetRecordset& operator=(const JetRecordset&) = delete;

    std::int32_t RecordCount() override {
        constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
        return static_cast<std::int32_t>(std::min(OpenRowCount(), kMax));
    }

    void MoveFirst() override {
        if (OpenRowCount() == 0) {
            NoCurrentRecord();
        }
        // A read that fails raises here and leaves the cursor where it was: the shared
        // recordsets stay good for the next walk.
        if (!current_ || StampOf(file_) != stamp_) {
            Adopt(Read());
        }
        position_ = 0;
    }

    void MoveNext() override {
        if (Eof()) {
            NoCurrentRecord();
        }
        ++position_;
        if (Eof()) {
            Release();
        }
    }

    bool Eof() override { return position_ >= OpenRowCount(); }

    Variant FieldValue(std::int16_t index) override {
        if (Eof()) {
            NoCurrentRecord();
        }
        const auto row = RowOf(openRow_[position_]);
        if (!row) {
            throw RuntimeError(ErrorNumber::RecordDeleted, "Record is deleted.");
        }
        if (index < 0 || index >= Rows().columnCount) {
            throw RuntimeError(kItemNotFound, "Item not found in this collection.");
        }
        return Rows().Value(*row, static_cast<std::uint16_t>(index), place_);
    }

private:
    std::size_t OpenRowCount() const { return openRows_.size(); }

    TableRead Read() {
        auto early = prefetch_ ? prefetch_->Take(file_, table_) : std::nullopt;
        return early ? std::move(*early) : ReadTable(file_, table_, options_);
    }

    const TableRows& Rows() const {
        static const TableRows kNone;
        return current_ ? *current_ : kNone;
    }

    [[noreturn]] static void NoCurrentRecord() {
        throw RuntimeError(ErrorNumber::NoCurrentRecord, "No current record.");
    }

    // The rows that count, in the order the file gives them: all of them, unless Jet moved
    // some rows and the file does not mark the slots that hold their data.
    std::size_t RowCount() const { return counted_ ? counted_->size() : Rows().size(); }
    std::uint32_t RowAt(std::size_t i) const {
        return counted_ ? (*counted_)[i] : static_cast<std::uint32_t>(i);
    }

    // The end of a walk: its rows go (their memory back to the system, not kept for the next).
    void Release() {
        place_ = {};
        current_.reset();
        counted_.reset();
        sortedByBookmark_ = {};
    }

    void Adopt(TableRead read) {
        place_ = {};
        current_ = std::move(read.rows);
        stamp_ = read.stamp;
        sortedByBookmark_.clear();
        sortedByBookmark_.shrink_to_fit();
        counted_.reset();
        // A row Jet moved to another page is listed under its own bookmark; its data slot,
        // should the file not mark it, must not count as a row of its own.
        const auto& moved = Rows().moved;
        if (!moved.empty()) {
            std::vector<std::uint64_t> movedData;
            movedData.reserve(moved.size());
            for (const auto& entry : moved) {
                movedData.push_back(entry.location);
            }
            std::sort(movedData.begin(), movedData.end());
            std::vector<std::uint32_t> counted;
            counted.reserve(Rows().size());
            auto nextMoved = moved.begin();
            for (std::uint32_t i = 0; i < Rows().size(); ++i) {
                const bool isMoved = nextMoved != moved.end() && nextMoved->row == i;
                if (isMoved) {
                    ++nextMoved;
                }
                if (isMoved ||
                    !std::binary_search(movedData.begin(), movedData.end(), Rows().Bookmark(i))) {
                    counted.push_back(i);
                }
            }
            counted_ = std::move(counted);
        }
    }

    // The row that holds `bookmark` in the file as last read; none when it was deleted.
    std::optional<std::uint32_t> RowOf(std::uint64_t bookmark) {
        // The usual case: the file did not change, or not in front of this row.
        if (position_ < RowCount() && Rows().Bookmark(RowAt(position_)) == bookmark) {
            return RowAt(position_);
        }
        // Only after a change in front of the walk: an index, made once per read.
        if (sortedByBookmark_.empty() && RowCount() > 0) {
            sortedByBookmark_.resize(RowCount());
            for (std::size_t i = 0; i < RowCount(); ++i) {
                sortedByBookmark_[i] = RowAt(i);
            }
            std::sort(sortedByBookmark_.begin(), sortedByBookmark_.end(),
                      [this](std::uint32_t a, std::uint32_t b) {
                          return Rows().Bookmark(a) < Rows().Bookmark(b);
                      });
        }
        const auto found =
            std::lower_bound(sortedByBookmark_.begin(), sortedByBookmark_.end(), bookmark,
                             [this](std::uint32_t row, std::uint64_t wanted) {
                                 return Rows().Bookmark(row) < wanted;
                             });
        if (found == sortedByBookmark_.end() || Rows().Bookmark(*found) != bookmark) {
            return std::nullopt;
        }
        return *found;
    }

    std::filesystem::path file_;
    std::string table_;
    ReaderOptions options_;
    std::shared_ptr<TablePrefetch> prefetch_;
    // The rows of one read, while a walk is on; shared with an early read kept for a later walk.
    std::shared_ptr<const TableRows> current_;
    std::optional<std::vector<std::uint32_t>> counted_;
    std::vector<std::uint32_t> sortedByBookmark_;
    FileStamp stamp_;        // of the state in current_
    TableRows::Place place_; // of the row visited last in current_
    // The rows of the open, in their order: fixed for the recordset's life, and kept packed,
    // as they stay when the rows read are let go.
    PackedBookmarks openRows_;
    PackedBookmarks::Reader openRow_{openRows_};
    std::size_t position_ = 0;
};

class JetDatabase final : public Database {
public:
    JetDatabase(std::filesystem::path file, ReaderOptions options,
                std::shared_ptr<TablePrefetch> prefetch)
        : file_(std::move(file)), options_(std::move(options)), prefetch_(std::move(prefetch)) {}

    std::shared_ptr<Recordset> OpenRecordset(std::string_view name, std::int32_t type) override {
        // Only dynasets: the agent asks for nothing else, and a silently different kind of
        // recordset would behave differently on a changed file.
        if (type != dbOpenDynaset) {
            throw RuntimeError(kInvalidArgument, "Invalid argument.");
        }
        return std::make_shared<JetRecordset>(file_, std::string(name), options_, prefetch_);
    }

private:
    std::filesystem::path file_;
    ReaderOptions options_;
    std::shared_ptr<TablePrefetch> prefetch_;
};

class JetWorkspace final : public Workspace {
public:
    JetWorkspace(ReaderOptions options, std::shared_ptr<TablePrefetch> prefetch)
        : options_(std::move(options)), prefetch_(std::move(prefetch)) {}

    // Always opened shared and read-only, whatever `exclusive` and `readOnly` say: the agent
    // never writes the diary, so it takes no lock that could stand in the diary program's way.
    std::shared_ptr<Database> OpenDatabase(const std::filesystem::path& name, bool /*exclusive*/,
                                           bool /*readOnly*/, std::string_view connect) override {
        JetHeader header;
        ReadWhileStill(name, options_, [&] { header = ReadJetHeader(name); });
        if (!header.password.empty() && PasswordOfConnect(connect) != header.password) {
            throw RuntimeError(ErrorNumber::NotValidPassword, "Not a valid password.");
        }
        return std::make_shared<JetDatabase>(name, options_, prefetch_);
    }

private:
    ReaderOptions options_;
    std::shared_ptr<TablePrefetch> prefetch_;
};

class JetEngine final : public DBEngine {
public:
    JetEngine(ReaderOptions options, std::shared_ptr<TablePrefetch> prefetch)
        : options_(std::move(options)), prefetch_(std::move(prefetch)) {}

    // Workgroup security is not part of the diary: the user name and password are not checked.
    std::shared_ptr<Workspace> CreateWorkspace(std::string_view /*name*/,
                                               std::string_view /*userName*/,
                                               std::string_view /*password*/) override {
        return std::make_shared<JetWorkspace>(options_, prefetch_);
    }

private:
    ReaderOptions options_;
    // Taken table by table by the first opens; empty after them.
    std::shared_ptr<TablePrefetch> prefetch_;
};

} // namespace

PageBuffer OutputOrEngineError(IsolatedResult result) {
    switch (result.outcome.end) {
    case ChildEnd::Done:
        return std::move(result.output);
    case ChildEnd::NoProcess:
        throw RuntimeError(ErrorNumber::EngineFailure,
                           "The diary reader could not run (" + result.outcome.detail + ").");
    case ChildEnd::Crashed:
    case ChildEnd::TimedOut:
    case ChildEnd::TooMuchOutput:
    case ChildEnd::TooMuchMemory:
        break;
    }
    throw RuntimeError(ErrorNumber::DatabaseDamaged,
                       "The diary file could not be read: " + result.outcome.detail + ".");
}

std::shared_ptr<DBEngine> MakeJetEngine(const ReaderOptions& options,
                                        std::shared_ptr<TablePrefetch> prefetch) {
    return std::make_shared<JetEngine>(options, std::move(prefetch));
}

} // namespace jet

std::shared_ptr<DBEngine> MakeJetEngine(std::shared_ptr<DiaryPrefetch> prefetch) {
    return jet::MakeJetEngine(jet::ReaderOptions{}, std::move(prefetch));
}

std::shared_ptr<DiaryPrefetch> PrefetchDiary(const std::filesystem::path& diary,
                                             bool listWindowAtStart) {
    // Only what start-up reads with the empty password: the tables of a diary with a password
    // are read once the password has been given, and an open that fails reads none.
    std::vector<std::string> tables;
    try {
        if (jet::ReadJetHeader(diary).password.empty()) {
            tables = {"Anniversary", "Appointment"};
        }
    } catch (const RuntimeError&) {
    }
    // The list window shown at start walks each table once more (Anniversary twice, the first
    // on the open's rows; Appointment after the agent's list): with the file unchanged, the
    // early read is that walk's read too.
    return std::make_shared<jet::TablePrefetch>(diary, tables, jet::ReaderOptions{},
                                                listWindowAtStart ? 2 : 1);
}

void EndOfStartUpReads(DiaryPrefetch& prefetch) {
    prefetch.LetGo();
    // The decoding thread's heap kept the pages its reads let go; the agent keeps only its
    // lists from here on.
    ::malloc_trim(0);
}

} // namespace zurodid
