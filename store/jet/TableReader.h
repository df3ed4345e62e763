#pragma once

#include "store/jet/IsolatedRun.h"
#include "store/jet/RowStream.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace zurodid::jet {

// What tells one state of the file from another: a write by the diary program changes the
// size or the modification time; a replacing save changes the inode.
struct FileStamp {
    std::uintmax_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    std::uint64_t inode = 0;
    std::uint64_t device = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// Empty when the file cannot be examined (vanished, no permission).
std::optional<FileStamp> StampOf(const std::filesystem::path& file);

struct ReaderOptions {
    IsolationLimits limits;
    int readAttempts = 4; // when the file changes while it is read
    std::chrono::milliseconds settleDelay{50};
    // How long a look at the file's stamp stays good within a walk (MoveFirst always looks):
    // a walk over many rows then costs one look, not one a row. Jet's own page cache waits
    // longer (seconds) before it looks again.
    std::chrono::milliseconds recheckInterval{100};
};

// The rows of `table` as one consistent read of `file`, and the stamp of the file they come
// from (empty when the file kept changing during every attempt, so that the next visit
// reads again). RuntimeError as RunIsolated and DecodeRowStream raise; FileNotFound when the
// file is gone.
struct TableRead {
    TableRows rows;
    std::optional<FileStamp> stamp;
};
TableRead ReadTable(const std::filesystem::path& file, const std::string& table,
                    const ReaderOptions& options);

// The same with another way of reading the file once (absolute path, table name).
using ReadOnce = std::function<TableRows(const std::string& path, const std::string& table)>;
TableRead ReadTable(const std::filesystem::path& file, const std::string& table,
                    const ReaderOptions& options, const ReadOnce& readOnce);

} // namespace zurodid::jet
