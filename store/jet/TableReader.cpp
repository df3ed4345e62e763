#include "store/jet/TableReader.h"

#include "platform/RuntimeError.h"
#include "store/jet/JetErrors.h"
#include "store/jet/MdbTableDump.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <thread>

namespace zurodid::jet {
namespace {

std::int64_t Nanoseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

TableRows ReadIsolated(const std::string& file, const std::string& table,
                       const ReaderOptions& options) {
    // The rows are decoded as they arrive: the buffer never holds the whole stream.
    RowStreamDecoder decoder(table);
    PageBuffer rest = OutputOrEngineError(
        RunIsolatedWork(&DumpTableWork, file, table, options.limits,
                        [&decoder](PageBuffer& received) { decoder.Received(received); }));
    return decoder.Finish(std::move(rest));
}

[[noreturn]] void Busy(const std::filesystem::path& file) {
    throw RuntimeError(ErrorNumber::DiaryBusy,
                       "The diary is being saved: it kept changing while it was read; it can be "
                       "read once it rests: " +
                           file.string());
}

[[noreturn]] void Missing(const std::filesystem::path& file) {
    throw RuntimeError(ErrorNumber::FileNotFound,
                       "Could not find the diary file '" + file.string() + "'.");
}

// How long ago the file was last written by the wall clock; zero when its time lies ahead
// (the clock was set back), which then leaves the judgement to our own observation.
std::chrono::nanoseconds WallAge(const FileStamp& stamp) {
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    return std::chrono::nanoseconds(std::max<std::int64_t>(0, now - stamp.modifiedNs));
}

// The last state of a file found quiet: the reads that follow it (the other table, the next
// walk) need not watch it again, which matters where only our own watch can tell.
class QuietStates {
public:
    bool Known(const std::filesystem::path& file, const FileStamp& stamp) {
        std::lock_guard lock(mutex_);
        return file == file_ && stamp == stamp_;
    }
    void Remember(const std::filesystem::path& file, const FileStamp& stamp) {
        std::lock_guard lock(mutex_);
        file_ = file;
        stamp_ = stamp;
    }

private:
    std::mutex mutex_;
    std::filesystem::path file_;
    FileStamp stamp_;
};

QuietStates& Quiet() {
    static QuietStates states;
    return states;
}

struct QuietFile {
    FileStamp stamp;
    std::chrono::nanoseconds quietFor; // at least this long unchanged
};

// The stamp of the file once it has been quiet for the quiet period: by its modification
// time, or by how long we have seen it unchanged on the steady clock, whichever says more.
// DiaryBusy as soon as that cannot come before `deadline`.
QuietFile WaitUntilQuiet(const std::filesystem::path& file, const ReaderOptions& options,
                         std::chrono::steady_clock::time_point deadline) {
    std::optional<FileStamp> seen;
    auto seenSince = std::chrono::steady_clock::now();
    for (;;) {
        const auto stamp = StampOf(file);
        if (!stamp) {
            Missing(file);
        }
        if (Quiet().Known(file, *stamp)) {
            return {*stamp, options.settledAge};
        }
        const auto now = std::chrono::steady_clock::now();
        if (stamp != seen) {
            seen = stamp;
            seenSince = now;
        }
        const auto quietFor = std::max<std::chrono::nanoseconds>(now - seenSince, WallAge(*stamp));
        if (quietFor >= options.quietPeriod) {
            return {*stamp, quietFor};
        }
        const auto wait = options.quietPeriod - quietFor;
        if (now + wait > deadline) {
            Busy(file);
        }
        std::this_thread::sleep_for(wait);
    }
}

// Returns once the file changes or `wait` has passed; DiaryBusy when `deadline` comes first.
void WaitForChange(const std::filesystem::path& file, const FileStamp& stamp,
                   const ReaderOptions& options, std::chrono::nanoseconds wait,
                   std::chrono::steady_clock::time_point deadline) {
    const auto until = std::chrono::steady_clock::now() + wait;
    const auto step =
        std::max<std::chrono::nanoseconds>(options.quietPeriod / 4, std::chrono::milliseconds(1));
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until || StampOf(file) != stamp) {
            return;
        }
        if (now >= deadline) {
            Busy(file);
        }
        std::this_thread::sleep_for(std::min({step, until - now, deadline - now}));
    }
}

} // namespace

std::optional<FileStamp> StampOf(const std::filesystem::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        return std::nullopt;
    }
    FileStamp stamp;
    stamp.size = static_cast<std::uintmax_t>(info.st_size);
    stamp.modifiedNs = Nanoseconds(info.st_mtim);
    stamp.changedNs = Nanoseconds(info.st_ctim);
    stamp.inode = info.st_ino;
    stamp.device = info.st_dev;
    return stamp;
}

TableRead ReadTable(const std::filesystem::path& file, const std::string& table,
                    const ReaderOptions& options) {
    return ReadTable(file, table, options,
                     [&options](const std::string& path, const std::string& name) {
                         return ReadIsolated(path, name, options);
                     });
}

FileStamp ReadWhileStill(const std::filesystem::path& file, const ReaderOptions& options,
                         const std::function<void()>& read) {
    const auto deadline = std::chrono::steady_clock::now() + options.busyBudget;
    for (;;) {
        const auto [before, quietFor] = WaitUntilQuiet(file, options, deadline);
        const auto readStart = std::chrono::steady_clock::now();
        std::exception_ptr failure;
        try {
            read();
        } catch (const RuntimeError&) {
            failure = std::current_exception();
        }
        if (StampOf(file) == before) {
            const auto age = quietFor + (std::chrono::steady_clock::now() - readStart);
            if (failure && age < options.settledAge) {
                WaitForChange(file, before, options, options.settledAge - age, deadline);
                continue;
            }
            Quiet().Remember(file, before);
            if (failure) {
                std::rethrow_exception(failure);
            }
            return before;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            Busy(file);
        }
    }
}

TablePrefetch::TablePrefetch(const std::filesystem::path& file,
                             const std::vector<std::string>& tables, const ReaderOptions& options,
                             int takes)
    : file_(std::filesystem::absolute(file)) {
    // A file saved a moment ago may be in the middle of a save: read when asked, as ever.
    const auto stamp = StampOf(file_);
    if (!stamp || WallAge(*stamp) < options.quietPeriod) {
        return;
    }
    stamp_ = *stamp;
    std::vector<std::shared_ptr<EarlyRun>> runs;
    for (const auto& table : tables) {
        auto run = EarlyRun::Start(&DumpTableWork, file_.string(), table, options.limits);
        if (!run) {
            break;
        }
        runs.push_back(std::move(run));
        early_.push_back({table, nullptr, takes});
    }
    if (runs.empty()) {
        return;
    }
    // The children end in the order they were asked for; each is decoded as soon as it has.
    // Its output is there whole by then: decoded in one go, with the row count its end states,
    // the index is made at its size at once rather than grown, which would leave this thread's
    // heap holding what the growing let go.
    auto decode = [this, runs = std::move(runs)] {
        for (std::size_t i = 0; i < runs.size(); ++i) {
            try {
                early_[i].rows = std::make_shared<const TableRows>(
                    DecodeRowStream(OutputOrEngineError(runs[i]->Take()), early_[i].table));
            } catch (...) {
                // A failed early read is read afresh when asked for, which says why.
            }
        }
    };
    try {
        decoding_ = std::thread(std::move(decode));
    } catch (const std::system_error&) {
        early_.clear(); // no thread to be had: the runs are let go, the opens read afresh
    }
}

TablePrefetch::~TablePrefetch() {
    Join();
}

void TablePrefetch::Join() {
    if (decoding_.joinable()) {
        decoding_.join();
    }
}

void TablePrefetch::LetGo() {
    Join();
    early_.clear();
}

std::optional<TableRead> TablePrefetch::Take(const std::filesystem::path& file,
                                             const std::string& table) {
    Join();
    const auto found = std::find_if(early_.begin(), early_.end(),
                                    [&](const Early& early) { return early.table == table; });
    if (found == early_.end() || std::filesystem::absolute(file) != file_) {
        return std::nullopt;
    }
    auto rows = found->rows;
    // The children have ended: a file still as it was before the reads held still across them,
    // and until now.
    const bool still = rows && StampOf(file_) == stamp_;
    if (!still || --found->takesLeft == 0) {
        early_.erase(found);
    }
    if (!still) {
        return std::nullopt;
    }
    Quiet().Remember(file, stamp_);
    return TableRead{std::move(rows), stamp_};
}

TableRead ReadTable(const std::filesystem::path& file, const std::string& table,
                    const ReaderOptions& options, const ReadOnce& readOnce) {
    // libmdb searches relative names along $MDBPATH; an absolute name is read as it is.
    const std::string path = std::filesystem::absolute(file).string();
    TableRead result;
    result.stamp = ReadWhileStill(file, options, [&] {
        result.rows = std::make_shared<const TableRows>(readOnce(path, table));
    });
    return result;
}

} // namespace zurodid::jet
