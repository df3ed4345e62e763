#pragma once

#include "store/Variant.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zurodid::jet {

// A row as the file holds it: where it lives (its bookmark: data page and slot), where its
// values were found (another page when Jet moved the row), and its values by position.
struct StoredRow {
    std::uint64_t bookmark = 0;
    std::uint64_t location = 0;
    std::vector<Variant> values;
};

struct TableRows {
    std::uint16_t columnCount = 0;
    std::vector<StoredRow> rows;
};

inline constexpr std::uint64_t MakeBookmark(std::uint32_t page, std::uint32_t slot) {
    return (static_cast<std::uint64_t>(page) << 16) | (slot & 0xFFFFu);
}

// Writes the rows of one table as a byte stream (in the reading child process). Buffers and
// hands full buffers to `sink`; after the sink failed once, everything else is dropped.
class RowStreamWriter {
public:
    using Sink = std::function<bool(const char* data, std::size_t size)>;
    explicit RowStreamWriter(Sink sink);

    void TableNotFound();
    void Damaged(std::string_view reason);
    void Begin(std::uint16_t columnCount);
    void BeginRow(std::uint64_t bookmark, std::uint64_t location);
    void Null();
    void Number(double value);
    void Boolean(bool yes); // a Yes/No field
    void Text(std::string_view utf8);
    void OleDate(double value);
    // Ends the stream after the last row; flushes.
    void Finish();
    bool Flush();

private:
    void Put(const void* data, std::size_t size);
    void PutByte(std::uint8_t byte) { Put(&byte, 1); }

    Sink sink_;
    std::string buffer_;
    std::uint64_t rowCount_ = 0;
    bool failed_ = false;
};

// What the decoded rows of one table may take in memory: a Null costs one byte in the stream
// but a whole value once decoded, so the stream's own size limit is not enough.
inline constexpr std::size_t kMaxDecodedBytes = 256ull * 1024 * 1024;

// Reads a stream written by RowStreamWriter, checking every byte of it. RuntimeError:
// TableNotFound (naming `table`) when the child found no such table, DatabaseDamaged for a
// damaged file, a stream that is not well formed, or rows beyond `maxDecodedBytes`.
TableRows DecodeRowStream(std::string_view bytes, std::string_view table,
                          std::size_t maxDecodedBytes = kMaxDecodedBytes);

} // namespace zurodid::jet
