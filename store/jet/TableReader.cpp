#include "store/jet/TableReader.h"

#include "platform/RuntimeError.h"
#include "store/jet/MdbTableDump.h"

#include <sys/stat.h>
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
    PageBuffer rest =
        RunIsolatedWork(&DumpTableWork, file, table, options.limits,
                        [&decoder](PageBuffer& received) { decoder.Received(received); });
    return decoder.Finish(std::move(rest));
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

TableRead ReadTable(const std::filesystem::path& file, const std::string& table,
                    const ReaderOptions& options, const ReadOnce& readOnce) {
    // libmdb searches relative names along $MDBPATH; an absolute name is read as it is.
    const std::string path = std::filesystem::absolute(file).string();
    std::optional<TableRows> changedRead;
    for (int attempt = 1;; ++attempt) {
        const auto before = StampOf(file);
        if (!before) {
            throw RuntimeError(ErrorNumber::FileNotFound,
                               "Could not find the diary file '" + file.string() + "'.");
        }
        const bool lastAttempt = attempt >= options.readAttempts;
        try {
            TableRows rows = readOnce(path, table);
            if (StampOf(file) == before) {
                return {std::move(rows), before};
            }
            changedRead = std::move(rows);
        } catch (const RuntimeError&) {
            // A read torn by a concurrent save may fail; one that fails on a steady file is
            // a real error.
            if (StampOf(file) == before || (lastAttempt && !changedRead)) {
                throw;
            }
        }
        if (lastAttempt) {
            break;
        }
        std::this_thread::sleep_for(options.settleDelay * attempt);
    }
    return {std::move(*changedRead), std::nullopt};
}

} // namespace zurodid::jet
