#pragma once

#include "store/Variant.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace zurodid {

// The diary's database object model: an engine, a workspace, a database and dynaset
// recordsets whose fields are addressed by position. Failures are RuntimeError with the
// engine's numbers (ErrorNumber::NotValidPassword, NoCurrentRecord, RecordDeleted, ...).

class Recordset;

class Field {
public:
    Field(Recordset& recordset, std::int16_t index) : recordset_(recordset), index_(index) {}
    Variant Value() const;

private:
    Recordset& recordset_;
    std::int16_t index_;
};

inline constexpr std::int32_t dbOpenDynaset = 2;

class Recordset {
public:
    virtual ~Recordset() = default;
    // Non-zero when the table has at least one row.
    virtual std::int32_t RecordCount() = 0;
    // Raises NoCurrentRecord on an empty table. Starts a walk: the walk, to EOF, sees the
    // file as it is now.
    virtual void MoveFirst() = 0;
    virtual void MoveNext() = 0;
    // End of file (EOF is a macro of the C library, hence the spelling).
    virtual bool Eof() = 0;
    // The stored value of field `index` of the current row as the walk sees the file;
    // NoCurrentRecord off the rows, RecordDeleted for a row deleted since the open.
    virtual Variant FieldValue(std::int16_t index) = 0;

    Field Fields(std::int16_t index) { return Field(*this, index); }
};

inline Variant Field::Value() const {
    return recordset_.FieldValue(index_);
}

class Database {
public:
    virtual ~Database() = default;
    virtual std::shared_ptr<Recordset> OpenRecordset(std::string_view name, std::int32_t type) = 0;
};

class Workspace {
public:
    virtual ~Workspace() = default;
    // connect is ";PWD=" followed by the password.
    virtual std::shared_ptr<Database> OpenDatabase(const std::filesystem::path& name,
                                                   bool exclusive, bool readOnly,
                                                   std::string_view connect) = 0;
};

class DBEngine {
public:
    virtual ~DBEngine() = default;
    virtual std::shared_ptr<Workspace> CreateWorkspace(std::string_view name,
                                                       std::string_view userName,
                                                       std::string_view password) = 0;
};

namespace jet {
class TablePrefetch;
}
using DiaryPrefetch = jet::TablePrefetch;

// The engine over real Jet 3 and Jet 4 files (libmdb, parsed in an isolated child process).
// Its first opens of the tables in `prefetch` take the rows read early when the file is
// unchanged since.
std::shared_ptr<DBEngine> MakeJetEngine(std::shared_ptr<DiaryPrefetch> prefetch = nullptr);
// Called first thing in main: when this start is the agent's own diary reader process (the
// agent spawns its own executable for it), serves reads and never returns; otherwise makes this
// executable able to spawn it.
void ServeDiaryReaderIfAsked(int argc, char** argv);
// Starts the reader process that the engine's reading children are forked from, so that none
// is forked from the agent, which has threads: forked while this process has no other thread
// (first in main: it then needs no exec), spawned otherwise. False when it could not be made
// (the next read tries again).
bool StartDiaryReader();
// Starts reading the two tables the agent opens at start (Anniversary, Appointment) of
// `diary` in that process now, so that the reads run while the toolkit starts; for
// MakeJetEngine. With `listWindowAtStart`, the early reads are kept for the list window's walks
// too, taken only while the file has not changed. Reads nothing when the reader process is not
// there, or the diary has a password or cannot be opened.
std::shared_ptr<DiaryPrefetch> PrefetchDiary(const std::filesystem::path& diary,
                                             bool listWindowAtStart = false);
// Start-up's walks are over: the early reads not taken go.
void EndOfStartUpReads(DiaryPrefetch& prefetch);

} // namespace zurodid
