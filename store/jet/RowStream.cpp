#include "store/jet/RowStream.h"

#include "platform/RuntimeError.h"
#include "store/jet/JetErrors.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

namespace zurodid::jet {
namespace {

constexpr char kMagic[4] = {'Z', 'J', 'R', '1'};
constexpr std::uint8_t kStatusRows = 'O';
constexpr std::uint8_t kStatusNoTable = 'T';
constexpr std::uint8_t kStatusDamaged = 'D';
constexpr std::uint8_t kRowMark = 'R';
constexpr std::uint8_t kEndMark = 'E';
enum Tag : std::uint8_t { kNull = 0, kNumber = 1, kText = 2, kOleDate = 3, kNo = 4, kYes = 5 };
// A text of ASCII and Thai letters, one byte a letter (below): from the child when the file
// stores it so, otherwise made in the kept rows. Only in the kept rows: a date as the seconds
// it stands for since kDateEpoch, in four bytes.
constexpr std::uint8_t kThaiText = 6;
constexpr std::uint8_t kDateSeconds = 7;
// Four bytes of seconds reach from December 1931 to January 2068 around it; dates beyond
// keep their stored number.
constexpr DateTime kDateEpoch{std::chrono::local_days{std::chrono::year{2000} / 1 / 1}};
constexpr std::size_t kFlushSize = 64 * 1024;
constexpr std::uint32_t kMaxReasonLength = 4096;

[[noreturn]] void Garbage(const char* what) {
    throw RuntimeError(ErrorNumber::DatabaseDamaged,
                       std::string("The diary reader returned unreadable data (") + what + ").");
}

// Thai takes three bytes a letter in UTF-8 and one in the diary's code page, hence the
// one-byte form. A fixed offset rather than iconv: it runs on every text value of every row,
// and these letters are one contiguous block in both.
constexpr char32_t kFirstThai = 0x0E01;
constexpr char32_t kLastThai = 0x0E5B;
constexpr std::uint8_t kFirstThaiByte = 0xA1;
constexpr std::uint8_t kLastThaiByte = kFirstThaiByte + (kLastThai - kFirstThai);

bool IsThaiTextByte(char byte) {
    const auto value = static_cast<unsigned char>(byte);
    return value < 0x80 || (value >= kFirstThaiByte && value <= kLastThaiByte);
}

} // namespace

std::size_t Utf8OfThaiTextByte(std::uint8_t byte, char (&utf8)[3]) {
    if (byte < 0x80) {
        utf8[0] = static_cast<char>(byte);
        return 1;
    }
    if (!IsThaiTextByte(static_cast<char>(byte))) {
        return 0;
    }
    const char32_t code = byte - kFirstThaiByte + kFirstThai;
    utf8[0] = static_cast<char>(0xE0 | (code >> 12));
    utf8[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    utf8[2] = static_cast<char>(0x80 | (code & 0x3F));
    return 3;
}

namespace {

// The number of letters of `utf8` when it can be kept one byte a letter. Only the shortest
// UTF-8 forms count, so that the text comes back byte for byte.
std::optional<std::size_t> ThaiLetterCount(std::string_view utf8) {
    std::size_t letters = 0;
    for (std::size_t i = 0; i < utf8.size(); ++letters) {
        if (letters == kMaxThaiTextLetters) {
            return std::nullopt;
        }
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead != 0xE0 || utf8.size() - i < 3) {
            return std::nullopt;
        }
        const auto second = static_cast<unsigned char>(utf8[i + 1]);
        const auto third = static_cast<unsigned char>(utf8[i + 2]);
        if ((second != 0xB8 && second != 0xB9) || (third & 0xC0) != 0x80) {
            return std::nullopt;
        }
        const char32_t letter = 0x0E00 | ((second & 0x3Fu) << 6) | (third & 0x3Fu);
        if (letter < kFirstThai || letter > kLastThai) {
            return std::nullopt;
        }
        i += 3;
    }
    return letters;
}

// Writes the one-byte form of `utf8` (`letters` letters) at `out`. `out` may lie inside the
// bytes of `utf8` itself as long as it does not come after its start: every byte is read before
// its place is written over.
void PutThaiText(char* out, std::string_view utf8, std::size_t letters) {
    out[0] = static_cast<char>(kThaiText);
    out[1] = static_cast<char>(letters);
    char* letter = out + 2;
    for (std::size_t i = 0; i < utf8.size(); ++letter) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            *letter = static_cast<char>(lead);
            ++i;
            continue;
        }
        const char32_t code = 0x0E00 | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu) << 6) |
                              (static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu);
        *letter = static_cast<char>(code - kFirstThai + kFirstThaiByte);
        i += 3;
    }
}

std::string ThaiTextToUtf8(std::string_view bytes) {
    const auto thai =
        static_cast<std::size_t>(std::count_if(bytes.begin(), bytes.end(), [](char byte) {
            return static_cast<unsigned char>(byte) >= 0x80;
        }));
    std::string utf8(bytes.size() + 2 * thai, '\0');
    char* out = utf8.data();
    for (const char byte : bytes) {
        char letter[3];
        const std::size_t size = Utf8OfThaiTextByte(static_cast<std::uint8_t>(byte), letter);
        out = std::copy_n(letter, size, out);
    }
    return utf8;
}

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}
    bool AtEnd() const { return at_ == bytes_.size(); }
    std::size_t Offset() const { return at_; }
    std::string_view Take(std::size_t size) {
        if (size > bytes_.size() - at_) {
            Garbage("cut short");
        }
        auto part = bytes_.substr(at_, size);
        at_ += size;
        return part;
    }
    template <typename T> T Get() {
        T value;
        std::memcpy(&value, Take(sizeof value).data(), sizeof value);
        return value;
    }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

} // namespace

RowStreamWriter::RowStreamWriter(Sink sink) : sink_(std::move(sink)) {
    buffer_.reserve(kFlushSize + 1024);
    Put(kMagic, sizeof kMagic);
}

void RowStreamWriter::Put(const void* data, std::size_t size) {
    if (failed_) {
        return;
    }
    buffer_.append(static_cast<const char*>(data), size);
    if (buffer_.size() >= kFlushSize) {
        Flush();
    }
}

bool RowStreamWriter::Flush() {
    if (!failed_ && !buffer_.empty()) {
        failed_ = !sink_(buffer_.data(), buffer_.size());
    }
    buffer_.clear();
    return !failed_;
}

void RowStreamWriter::TableNotFound() {
    PutByte(kStatusNoTable);
    Flush();
}

void RowStreamWriter::Damaged(std::string_view reason) {
    reason = reason.substr(0, kMaxReasonLength);
    PutByte(kStatusDamaged);
    const auto length = static_cast<std::uint32_t>(reason.size());
    Put(&length, sizeof length);
    Put(reason.data(), reason.size());
    Flush();
}

void RowStreamWriter::Begin(std::uint16_t columnCount) {
    PutByte(kStatusRows);
    Put(&columnCount, sizeof columnCount);
}

// A row's mark and each value go into the buffer in one piece: the child writes some
// hundred thousand of them.
void RowStreamWriter::BeginRow(std::uint64_t bookmark, std::uint64_t location) {
    char bytes[1 + sizeof bookmark + sizeof location];
    bytes[0] = static_cast<char>(kRowMark);
    std::memcpy(bytes + 1, &bookmark, sizeof bookmark);
    std::memcpy(bytes + 1 + sizeof bookmark, &location, sizeof location);
    Put(bytes, sizeof bytes);
    ++rowCount_;
}

void RowStreamWriter::Null() {
    PutByte(kNull);
}

void RowStreamWriter::PutTagged(std::uint8_t tag, double value) {
    char bytes[1 + sizeof value];
    bytes[0] = static_cast<char>(tag);
    std::memcpy(bytes + 1, &value, sizeof value);
    Put(bytes, sizeof bytes);
}

void RowStreamWriter::Number(double value) {
    PutTagged(kNumber, value);
}

void RowStreamWriter::Boolean(bool yes) {
    PutByte(yes ? kYes : kNo);
}

void RowStreamWriter::Text(std::string_view utf8) {
    PutByte(kText);
    const auto length = static_cast<std::uint32_t>(utf8.size());
    Put(&length, sizeof length);
    Put(utf8.data(), utf8.size());
}

void RowStreamWriter::ThaiText(std::string_view letters) {
    char bytes[2 + kMaxThaiTextLetters];
    letters = letters.substr(0, kMaxThaiTextLetters);
    bytes[0] = static_cast<char>(kThaiText);
    bytes[1] = static_cast<char>(letters.size());
    std::memcpy(bytes + 2, letters.data(), letters.size());
    Put(bytes, 2 + letters.size());
}

void RowStreamWriter::OleDate(double value) {
    PutTagged(kOleDate, value);
}

void RowStreamWriter::Finish() {
    PutByte(kEndMark);
    Put(&rowCount_, sizeof rowCount_);
    Flush();
}

namespace {

// What one row may cost in the index beside its values, the recordset's own index included.
constexpr std::size_t kRowCost = 2 * sizeof(std::uint64_t) + 2 * sizeof(std::uint32_t);
constexpr std::size_t kSmallestRow = 1 + 2 * sizeof(std::uint64_t);

// The row count the stream ends with, for reserving the index exactly: believed only as far
// as the stream could hold that many rows within the limit (0 otherwise); it is checked
// against the rows at the end.
std::size_t StatedRowCount(std::string_view bytes, std::size_t maxDecodedBytes) {
    std::uint64_t count = 0;
    if (bytes.size() < sizeof count) {
        return 0;
    }
    std::memcpy(&count, bytes.data() + bytes.size() - sizeof count, sizeof count);
    const std::size_t most = std::min(bytes.size() / kSmallestRow, maxDecodedBytes / kRowCost);
    return count <= most ? static_cast<std::size_t>(count) : 0;
}

// The size of the row at the start of `bytes` (its mark included), or none when it has not
// arrived whole yet.
std::optional<std::size_t> RowExtent(std::string_view bytes, std::uint16_t columnCount,
                                     std::size_t room) {
    std::size_t at = kSmallestRow;
    for (std::uint16_t i = 0; i < columnCount; ++i) {
        if (at >= bytes.size()) {
            return std::nullopt;
        }
        switch (static_cast<std::uint8_t>(bytes[at++])) {
        case kNull:
        case kNo:
        case kYes:
            break;
        case kNumber:
        case kOleDate:
            at += sizeof(double);
            break;
        case kText: {
            std::uint32_t length = 0;
            if (bytes.size() - at < sizeof length) {
                return std::nullopt;
            }
            std::memcpy(&length, bytes.data() + at, sizeof length);
            at += sizeof length + length;
            break;
        }
        case kThaiText:
            if (at >= bytes.size()) {
                return std::nullopt;
            }
            at += 1 + static_cast<std::uint8_t>(bytes[at]);
            break;
        default:
            Garbage("unknown value type");
        }
        // Refused before it has all arrived.
        if (at > room) {
            Garbage("more data than a diary holds");
        }
    }
    return at <= bytes.size() ? std::optional<std::size_t>(at) : std::nullopt;
}

} // namespace

RowStreamDecoder::RowStreamDecoder(std::string_view table, std::size_t maxDecodedBytes)
    : table_(table), maxDecodedBytes_(maxDecodedBytes) {}

void RowStreamDecoder::TakeHeader(const PageBuffer& buffer) {
    constexpr std::size_t kHeaderSize = sizeof kMagic + 1 + sizeof(std::uint16_t);
    if (buffer.size() < sizeof kMagic + 1) {
        return;
    }
    if (std::memcmp(buffer.data(), kMagic, sizeof kMagic) != 0) {
        Garbage("no stream header");
    }
    // Any other status is a short message, read whole by Finish.
    if (static_cast<std::uint8_t>(buffer.data()[sizeof kMagic]) != kStatusRows ||
        buffer.size() < kHeaderSize) {
        return;
    }
    std::memcpy(&result_.columnCount, buffer.data() + sizeof kMagic + 1,
                sizeof result_.columnCount);
    headerTaken_ = true;
    unparsed_ = kHeaderSize;
    if (wholeStream_) {
        statedRows_ = StatedRowCount(buffer.view(), maxDecodedBytes_);
        bookmarks_.reserve(statedRows_);
        result_.groupStarts.reserve((statedRows_ + TableRows::kRowsPerStart - 1) /
                                    TableRows::kRowsPerStart);
    }
}

void RowStreamDecoder::Received(PageBuffer& buffer) {
    if (!headerTaken_) {
        TakeHeader(buffer);
        if (!headerTaken_) {
            return;
        }
    }
    for (;;) {
        const auto rest = buffer.view().substr(unparsed_);
        if (rest.empty() || static_cast<std::uint8_t>(rest[0]) == kEndMark) {
            break; // the end is Finish's to check
        }
        if (static_cast<std::uint8_t>(rest[0]) != kRowMark) {
            Garbage("unknown record");
        }
        // A whole stream need not be walked twice: a row cut short is refused as it is taken.
        if (!wholeStream_ && !RowExtent(rest, result_.columnCount, maxDecodedBytes_ - kept_)) {
            break;
        }
        TakeRow(buffer);
    }
    // The start of a row still arriving goes down after the values kept.
    if (unparsed_ > packed_) {
        const std::size_t waiting = buffer.size() - unparsed_;
        std::memmove(buffer.data() + packed_, buffer.data() + unparsed_, waiting);
        buffer.Resize(packed_ + waiting);
        unparsed_ = packed_;
    }
}

void RowStreamDecoder::TakeRow(PageBuffer& buffer) {
    Reader in(buffer.view());
    in.Take(unparsed_ + 1); // up to the row's mark, and the mark
    const auto bookmark = in.Get<std::uint64_t>();
    const auto location = in.Get<std::uint64_t>();
    // Jet lists a table's rows page by page, slot by slot: ascending bookmarks cannot repeat,
    // and only rows listed in another order need the search for one listed twice.
    if (!bookmarks_.empty() && bookmark <= bookmarks_.back()) {
        ascending_ = false;
    }
    // The values are moved down over the headers as they are checked: what stays is the
    // values of every row, back to back, Thai texts and dates in their short forms.
    const std::size_t valuesStart = in.Offset();
    const std::size_t rowStart = packed_;
    for (std::uint16_t i = 0; i < result_.columnCount; ++i) {
        const std::size_t valueStart = in.Offset();
        const auto tag = in.Get<std::uint8_t>();
        switch (tag) {
        case kNull:
        case kNo:
        case kYes:
            break;
        case kNumber:
            in.Get<double>();
            break;
        case kOleDate: {
            // What a visit hands out is the date the number stands for: that is kept.
            const auto date = DateTimeFromOleDate(in.Get<double>());
            const auto since = date ? (*date - kDateEpoch).count() : 0;
            if (date && since >= std::numeric_limits<std::int32_t>::min() &&
                since <= std::numeric_limits<std::int32_t>::max()) {
                const auto seconds = static_cast<std::int32_t>(since);
                buffer.data()[packed_] = static_cast<char>(kDateSeconds);
                std::memcpy(buffer.data() + packed_ + 1, &seconds, sizeof seconds);
                packed_ += 1 + sizeof seconds;
                continue;
            }
            break;
        }
        case kText: {
            const auto text = in.Take(in.Get<std::uint32_t>());
            if (const auto letters = ThaiLetterCount(text)) {
                // Never longer than the UTF-8 form: written where the packed values end.
                PutThaiText(buffer.data() + packed_, text, *letters);
                packed_ += 2 + *letters;
                continue;
            }
            break;
        }
        case kThaiText: {
            const auto letters = in.Take(in.Get<std::uint8_t>());
            if (!std::all_of(letters.begin(), letters.end(), IsThaiTextByte)) {
                Garbage("a text out of its form");
            }
            break;
        }
        default:
            Garbage("unknown value type");
        }
        const std::size_t valueSize = in.Offset() - valueStart;
        std::memmove(buffer.data() + packed_, buffer.data() + valueStart, valueSize);
        packed_ += valueSize;
    }
    unparsed_ = in.Offset();
    // Counted as received, before texts and dates were made shorter.
    kept_ += kRowCost + (in.Offset() - valuesStart);
    if (kept_ > maxDecodedBytes_ || packed_ > std::numeric_limits<std::uint32_t>::max()) {
        Garbage("more data than a diary holds");
    }
    if (statedRows_ > 0 && bookmarks_.size() == statedRows_) {
        Garbage("row count differs");
    }
    if (bookmarks_.size() % TableRows::kRowsPerStart == 0) {
        result_.groupStarts.push_back(static_cast<std::uint32_t>(rowStart));
    }
    if (location != bookmark) {
        result_.moved.push_back({static_cast<std::uint32_t>(bookmarks_.size()), location});
    }
    bookmarks_.push_back(bookmark);
}

TableRows RowStreamDecoder::Finish(PageBuffer buffer) {
    wholeStream_ = !headerTaken_ && unparsed_ == 0;
    Received(buffer);
    if (!headerTaken_) {
        // Nothing but a short message: read whole.
        Reader in(buffer.view());
        if (in.Take(sizeof kMagic) != std::string_view(kMagic, sizeof kMagic)) {
            Garbage("no stream header");
        }
        const auto status = in.Get<std::uint8_t>();
        if (status == kStatusNoTable) {
            if (!in.AtEnd()) {
                Garbage("bytes after the end");
            }
            throw RuntimeError(ErrorNumber::TableNotFound,
                               "The diary has no table '" + table_ + "'.");
        }
        if (status == kStatusDamaged) {
            const auto length = in.Get<std::uint32_t>();
            if (length > kMaxReasonLength) {
                Garbage("oversized message");
            }
            const auto reason = in.Take(length);
            if (!in.AtEnd()) {
                Garbage("bytes after the end");
            }
            throw RuntimeError(ErrorNumber::DatabaseDamaged,
                               "The diary file is damaged: " + std::string(reason) + ".");
        }
        if (status != kStatusRows) {
            Garbage("unknown status");
        }
        Garbage("cut short"); // the rows' header itself
    }
    Reader in(buffer.view());
    in.Take(unparsed_);
    if (in.Get<std::uint8_t>() != kEndMark) {
        Garbage("cut short"); // a row that never arrived whole
    }
    if (in.Get<std::uint64_t>() != bookmarks_.size()) {
        Garbage("row count differs");
    }
    if (!in.AtEnd()) {
        Garbage("bytes after the end");
    }
    buffer.Resize(packed_);
    buffer.ShrinkToFit();
    if (!ascending_) {
        std::vector<std::uint64_t> sorted(bookmarks_.size());
        for (std::size_t i = 0; i < sorted.size(); ++i) {
            sorted[i] = bookmarks_[i];
        }
        std::sort(sorted.begin(), sorted.end());
        if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
            Garbage("a row twice");
        }
    }
    TableRows result = std::move(result_);
    result.stream = std::move(buffer);
    result.moved.shrink_to_fit();
    result.groupStarts.shrink_to_fit();
    bookmarks_.shrink_to_fit();
    result.bookmarks = std::move(bookmarks_);
    return result;
}

TableRows DecodeRowStream(PageBuffer bytes, std::string_view table, std::size_t maxDecodedBytes) {
    return RowStreamDecoder(table, maxDecodedBytes).Finish(std::move(bytes));
}

void BookmarkList::push_back(std::uint64_t bookmark) {
    if (wide_.empty() && bookmark <= std::numeric_limits<std::uint32_t>::max()) {
        narrow_.push_back(static_cast<std::uint32_t>(bookmark));
        return;
    }
    if (wide_.empty()) {
        wide_.assign(narrow_.begin(), narrow_.end());
        narrow_ = {};
    }
    wide_.push_back(bookmark);
}

void BookmarkList::shrink_to_fit() {
    narrow_.shrink_to_fit();
    wide_.shrink_to_fit();
}

void PackedBookmarks::push_back(std::uint64_t bookmark) {
    // The difference, wrapping, with its sign in the lowest bit: small either way.
    const std::uint64_t step = bookmark - last_;
    std::uint64_t zigzag = (step << 1) ^ (0 - (step >> 63));
    while (zigzag >= 0x80) {
        bytes_.push_back(static_cast<std::uint8_t>(zigzag | 0x80));
        zigzag >>= 7;
    }
    bytes_.push_back(static_cast<std::uint8_t>(zigzag));
    last_ = bookmark;
    ++count_;
}

std::uint64_t PackedBookmarks::Reader::operator[](std::size_t row) {
    if (row + 1 == next_) {
        return last_;
    }
    if (row < next_) {
        *this = Reader(*list_);
    }
    while (next_ <= row) {
        std::uint64_t zigzag = 0;
        for (unsigned shift = 0;; shift += 7) {
            const std::uint8_t byte = list_->bytes_[offset_++];
            zigzag |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if (byte < 0x80) {
                break;
            }
        }
        last_ += (zigzag >> 1) ^ (0 - (zigzag & 1));
        ++next_;
    }
    return last_;
}

std::uint64_t TableRows::Location(std::size_t row) const {
    const auto found = std::lower_bound(
        moved.begin(), moved.end(), row,
        [](const MovedRow& entry, std::size_t wanted) { return entry.row < wanted; });
    return found != moved.end() && found->row == row ? found->location : Bookmark(row);
}

Variant TableRows::Value(std::size_t row, std::uint16_t column) const {
    Place place;
    return Value(row, column, place);
}

Variant TableRows::Value(std::size_t row, std::uint16_t column, Place& place) const {
    if (row >= size() || column >= columnCount) {
        throw RuntimeError(kItemNotFound, "Item not found in this collection.");
    }
    // The stream was checked whole when it was taken: every value is where its tag says.
    Reader in(stream.view());
    const auto skip = [&in](std::uint8_t tag) {
        if (tag == kText) {
            in.Take(in.Get<std::uint32_t>());
        } else if (tag == kThaiText) {
            in.Take(in.Get<std::uint8_t>());
        } else if (tag == kDateSeconds) {
            in.Take(sizeof(std::int32_t));
        } else if (tag == kNumber || tag == kOleDate) {
            in.Take(sizeof(double));
        }
    };
    std::size_t before = row % kRowsPerStart * columnCount;
    if (place.row == row) {
        before = 0;
        in.Take(place.offset);
    } else if (place.row + 1 == row && row % kRowsPerStart != 0) {
        before = columnCount;
        in.Take(place.offset);
    } else {
        in.Take(groupStarts[row / kRowsPerStart]);
    }
    for (; before > 0; --before) {
        skip(in.Get<std::uint8_t>());
    }
    place = {row, in.Offset()};
    for (std::uint16_t i = 0;; ++i) {
        const auto tag = in.Get<std::uint8_t>();
        if (i == column) {
            switch (tag) {
            case kNull:
                return zurodid::Null{};
            case kNumber:
                return in.Get<double>();
            case kNo:
            case kYes:
                return Variant(std::in_place_type<bool>, tag == kYes);
            case kText:
                return std::string(in.Take(in.Get<std::uint32_t>()));
            case kThaiText:
                return ThaiTextToUtf8(in.Take(in.Get<std::uint8_t>()));
            case kDateSeconds:
                return kDateEpoch + std::chrono::seconds(in.Get<std::int32_t>());
            default: {
                const auto ole = in.Get<double>();
                if (auto date = DateTimeFromOleDate(ole)) {
                    return *date;
                }
                // Beyond what a date can hold: the stored number, for the caller to refuse.
                return ole;
            }
            }
        }
        skip(tag);
    }
}

std::vector<Variant> TableRows::Values(std::size_t row) const {
    std::vector<Variant> values;
    values.reserve(columnCount);
    for (std::uint16_t column = 0; column < columnCount; ++column) {
        values.push_back(Value(row, column));
    }
    return values;
}

} // namespace zurodid::jet
