#pragma once

#include "store/jet/ReaderClient.h"
#include "store/jet/RowStream.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

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
    // A file unchanged for this long is taken to be between two saves. The diary program's
    // engine writes the pages of one save with gaps of a few milliseconds (15 at most seen):
    // a pause ten times longer is not one inside a save, and a reader that comes right after
    // a save waits no longer than a user notices. It also makes the stamp check sound where
    // file times move in coarse ticks: the first write after a quiet spell always moves them.
    std::chrono::milliseconds quietPeriod{200};
    // The longest one read waits because the file is busy; then DiaryBusy.
    std::chrono::milliseconds busyBudget{1000};
    // A read that fails on a file changed less than this long ago is taken for a save stalled
    // halfway, not for damage: a write can block in the kernel on a busy disk (a file left
    // empty for 0.4 s has been seen), and a half-saved file looks damaged. Such a read waits
    // for the save to go on; DiaryBusy when it does not within the budget.
    std::chrono::milliseconds settledAge{2000};
};

// Runs `read` when `file` has been quiet and again until `file` held still across it: returns
// the stamp of the one state `read` saw. An error `read` raises while the file held still is
// raised as it is; one raised while the file changed (a half-written header or page looks
// damaged) only means the file is busy. RuntimeError FileNotFound when the file is gone,
// DiaryBusy when it kept changing for the whole budget.
FileStamp ReadWhileStill(const std::filesystem::path& file, const ReaderOptions& options,
                         const std::function<void()>& read);

// The rows of `table` as one read of `file` while it held still, and the stamp of the state
// they come from. RuntimeError as ReadWhileStill, RunIsolated and DecodeRowStream raise.
struct TableRead {
    // Shared: an early read that serves two walks is held once.
    std::shared_ptr<const TableRows> rows;
    FileStamp stamp;
};
TableRead ReadTable(const std::filesystem::path& file, const std::string& table,
                    const ReaderOptions& options);

// The same with another way of reading the file once (absolute path, table name).
using ReadOnce = std::function<TableRows(const std::string& path, const std::string& table)>;
TableRead ReadTable(const std::filesystem::path& file, const std::string& table,
                    const ReaderOptions& options, const ReadOnce& readOnce);

// Reads started before anyone asks for them: the first reads of the agent's start-up, run in
// the reader process while the toolkit starts, and decoded on a thread of their own as they
// end, so that the toolkit's start-up and the decoding overlap too. Each serves at most `takes`
// reads of its file and table (the open, then walks that would read the file again), and only
// while the file has not changed since it was quiet when they began: a read taken is then the
// file as it is at that moment. Otherwise the read goes to the file afresh, as it does when the
// early read failed (a fresh read gives the error, with its waits and retries).
class TablePrefetch {
public:
    // Starts nothing when no reader process runs or the file is missing or not quiet.
    TablePrefetch(const std::filesystem::path& file, const std::vector<std::string>& tables,
                  const ReaderOptions& options, int takes = 1);
    TablePrefetch(const TablePrefetch&) = delete;
    TablePrefetch& operator=(const TablePrefetch&) = delete;
    // Waits for the decoding thread.
    ~TablePrefetch();

    // The early read of `table` of `file`, when there is one and the file is as it was; let go
    // once it has served its takes or the file changed. Waits for the decoding of all of them:
    // the reader process is then free for a fresh read.
    std::optional<TableRead> Take(const std::filesystem::path& file, const std::string& table);
    // Lets go of what is left: the walks it was kept for are over.
    void LetGo();

private:
    struct Early {
        std::string table;
        std::shared_ptr<const TableRows> rows; // null when the early read failed
        int takesLeft = 1;
    };
    void Join();
    std::filesystem::path file_; // absolute
    FileStamp stamp_;
    std::vector<Early> early_; // written by the thread until it is joined
    std::thread decoding_;
};

} // namespace zurodid::jet
