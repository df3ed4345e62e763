#pragma once

#include "store/Variant.h"
#include "store/jet/PageBuffer.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zurodid::jet {

// Bookmarks in the order of their rows: four bytes each while every one fits (a file of up to
// 65,536 pages, far beyond a diary), eight bytes each otherwise.
class BookmarkList {
public:
    std::size_t size() const { return wide_.empty() ? narrow_.size() : wide_.size(); }
    bool empty() const { return size() == 0; }
    std::uint64_t operator[](std::size_t i) const { return wide_.empty() ? narrow_[i] : wide_[i]; }
    std::uint64_t back() const { return (*this)[size() - 1]; }
    void reserve(std::size_t count) { narrow_.reserve(count); }
    void push_back(std::uint64_t bookmark);
    void shrink_to_fit();
    // Whether they take four bytes each.
    bool narrow() const { return wide_.empty(); }

private:
    std::vector<std::uint32_t> narrow_;
    std::vector<std::uint64_t> wide_;
};

// Bookmarks in the order of their rows, read front to back: each kept as its difference from
// the one before, in as few bytes as that takes (seven bits a byte). Rows follow each other
// slot by slot on a page, so most take one byte: a recordset keeps the rows of its open for
// its whole life, a walk reads them in order.
class PackedBookmarks {
public:
    std::size_t size() const { return count_; }
    void push_back(std::uint64_t bookmark);
    void shrink_to_fit() { bytes_.shrink_to_fit(); }

    // Reads the bookmarks in order; cheapest at the next row or the same one again.
    class Reader {
    public:
        explicit Reader(const PackedBookmarks& list) : list_(&list) {}
        // Of row `row` (< size()).
        std::uint64_t operator[](std::size_t row);

    private:
        const PackedBookmarks* list_;
        std::size_t next_ = 0; // the row whose bytes start at offset_
        std::size_t offset_ = 0;
        std::uint64_t last_ = 0; // the bookmark of row next_ - 1
    };

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t count_ = 0;
    std::uint64_t last_ = 0;
};

// The rows of one table as the file holds them, kept compactly: the values of all rows back
// to back, checked, in the reader's stream format but for two shorter forms (texts of ASCII and
// Thai letters one byte a letter, dates as their seconds); per row its bookmark (data page and
// slot); where the values of every kRowsPerStart-th row start in `stream`; and where the values
// were found, only for the few rows Jet moved to another page. Values are decoded when they are
// asked for: a dynaset holds every row of a table but hands out only the few fields a visit reads.
struct TableRows {
    // A row whose values are not at its bookmark.
    struct MovedRow {
        std::uint32_t row;
        std::uint64_t location;
    };

    std::uint16_t columnCount = 0;
    PageBuffer stream;
    BookmarkList bookmarks;
    std::vector<MovedRow> moved; // ascending by row
    // A row's values are found by skipping those of the rows before it in its group: a few
    // tags, against four bytes a row.
    static constexpr std::size_t kRowsPerStart = 8;
    std::vector<std::uint32_t> groupStarts;

    std::size_t size() const { return bookmarks.size(); }
    // Of row `row` (< size()).
    std::uint64_t Bookmark(std::size_t row) const { return bookmarks[row]; }
    std::uint64_t Location(std::size_t row) const;
    // Field `column` (< columnCount) of row `row` (< size()).
    Variant Value(std::size_t row, std::uint16_t column) const;
    // Where the values of a row start, kept by a reader that visits the rows in order: the
    // next row's are found past the values of this one, without going back to its group.
    struct Place {
        std::size_t row = static_cast<std::size_t>(-1);
        std::size_t offset = 0;
    };
    Variant Value(std::size_t row, std::uint16_t column, Place& place) const;
    std::vector<Variant> Values(std::size_t row) const;
};

// The one-byte form in which the rows keep texts of ASCII and Thai letters: ASCII as it is, the
// Thai letters U+0E01..U+0E5B at 0xA1..0xFB, where TIS-620 and Windows-874 place them.
inline constexpr std::size_t kMaxThaiTextLetters = 255;
// The UTF-8 of the letter `byte` stands for in that form, written to `utf8` (one or three
// bytes); 0 when it stands for none.
std::size_t Utf8OfThaiTextByte(std::uint8_t byte, char (&utf8)[3]);

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
    // A text already in the one-byte form, at most kMaxThaiTextLetters letters.
    void ThaiText(std::string_view letters);
    void OleDate(double value);
    // Ends the stream after the last row; flushes.
    void Finish();
    bool Flush();

private:
    void Put(const void* data, std::size_t size);
    void PutByte(std::uint8_t byte) { Put(&byte, 1); }
    void PutTagged(std::uint8_t tag, double value);

    Sink sink_;
    std::string buffer_;
    std::uint64_t rowCount_ = 0;
    bool failed_ = false;
};

// What the rows of one table may take in memory, the stream and the per-row index together.
inline constexpr std::size_t kMaxDecodedBytes = 256ull * 1024 * 1024;

// Takes a stream written by RowStreamWriter as it arrives, checking every byte of it, and keeps
// it as the rows' storage: the values of each complete row are packed down in place as soon as
// they are there, so that the buffer holds little more than what is kept. RuntimeError:
// TableNotFound (naming the table) when the child found no such table, DatabaseDamaged for a
// damaged file, a stream that is not well formed, or rows beyond `maxDecodedBytes`.
class RowStreamDecoder {
public:
    explicit RowStreamDecoder(std::string_view table,
                              std::size_t maxDecodedBytes = kMaxDecodedBytes);

    // `buffer` holds what this decoder left in it, then the bytes that arrived since. Decodes
    // the complete rows; what stays is the values kept, then the start of a row still arriving.
    void Received(PageBuffer& buffer);
    // The rows, when `buffer` (as Received leaves it, or the whole stream) holds the rest of
    // the stream.
    TableRows Finish(PageBuffer buffer);

private:
    void TakeHeader(const PageBuffer& buffer);
    void TakeRow(PageBuffer& buffer);

    std::string table_;
    std::size_t maxDecodedBytes_;
    bool wholeStream_ = false; // Finish came first: the row count at the end can be believed
    bool headerTaken_ = false;
    TableRows result_;
    BookmarkList bookmarks_;
    std::size_t statedRows_ = 0;
    bool ascending_ = true;
    std::size_t kept_ = 0;
    std::size_t packed_ = 0;   // the values kept, at the start of the buffer
    std::size_t unparsed_ = 0; // where the bytes not yet decoded start
};

// The same over a whole stream.
TableRows DecodeRowStream(PageBuffer bytes, std::string_view table,
                          std::size_t maxDecodedBytes = kMaxDecodedBytes);

} // namespace zurodid::jet
