#include "tools/make-diary/DiaryWriter.h"

#include "platform/CodePage.h"
#include "platform/DateTime.h"
#include "store/jet/JetHeader.h"
#include "store/jet/Rc4.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string_view>

namespace zurodid::fixture {
namespace {

using jet::kJet3PageSize;
using Page = std::array<std::uint8_t, kJet3PageSize>;
using Bytes = std::vector<std::uint8_t>;

// Jet 3 layout facts the writer relies on.
constexpr std::uint8_t kPageData = 0x01;
constexpr std::uint8_t kPageTableDefinition = 0x02;
constexpr std::size_t kDataHeaderSize = 10; // type, 1, free space, owner page, row count
constexpr std::size_t kRowCountOffset = 8;
constexpr std::size_t kMaxRowSize = kJet3PageSize - kDataHeaderSize - 2;
constexpr std::uint32_t kLongValueOwner = 0x4C41564C; // "LVAL"
constexpr std::size_t kMemoHeaderSize = 12;
constexpr std::size_t kInlineMemoLimit = 1024;
constexpr std::size_t kMaxTextBytes = 255;
constexpr std::size_t kTableColumnsOffset = 43;
constexpr std::size_t kColumnEntrySize = 18;
constexpr std::uint16_t kThaiCodePage = 874;
constexpr std::uint16_t kThaiSortOrder = 0x041E;
constexpr std::uint8_t kUserTable = 0x4E;
constexpr std::uint8_t kSystemTable = 0x53;
constexpr std::size_t kMapHeaderSize = 5; // map type 0, first page

// Column type codes of the file.
enum : std::uint8_t {
    kInteger = 0x03,
    kLong = 0x04,
    kDouble = 0x07,
    kDateTime = 0x08,
    kText = 0x0A,
    kOle = 0x0B,
    kMemo = 0x0C
};

void Put16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
    Put16(at, value);
    Put16(at + 2, value >> 16);
}

void PutDouble(Bytes& out, double value) {
    std::uint8_t raw[8];
    std::memcpy(raw, &value, sizeof raw);
    out.insert(out.end(), raw, raw + sizeof raw);
}

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what);
}

std::string CodePageText(std::string_view utf8) {
    return Windows874FromUtf8(utf8);
}

struct FileColumn {
    std::string name;
    std::uint8_t type = 0;
    bool fixed = false;
    std::uint16_t size = 0;
    std::uint16_t number = 0;
    std::uint16_t fixedOffset = 0;
    std::uint16_t varIndex = 0;
};

std::vector<FileColumn> Lay(const std::vector<std::pair<std::string, std::uint8_t>>& columns) {
    std::vector<FileColumn> laid;
    std::uint16_t fixedOffset = 0;
    std::uint16_t varIndex = 0;
    for (const auto& [name, type] : columns) {
        FileColumn column;
        column.name = name;
        column.type = type;
        column.number = static_cast<std::uint16_t>(laid.size());
        switch (type) {
        case kInteger:
            column.fixed = true;
            column.size = 2;
            break;
        case kLong:
            column.fixed = true;
            column.size = 4;
            break;
        case kDouble:
        case kDateTime:
            column.fixed = true;
            column.size = 8;
            break;
        case kText:
            column.size = kMaxTextBytes;
            break;
        default:
            column.size = 0;
            break;
        }
        if (column.fixed) {
            column.fixedOffset = fixedOffset;
            fixedOffset = static_cast<std::uint16_t>(fixedOffset + column.size);
        } else {
            column.varIndex = varIndex++;
        }
        laid.push_back(column);
    }
    return laid;
}

std::uint8_t TypeCode(ColumnType type) {
    switch (type) {
    case ColumnType::DateTime:
        return kDateTime;
    case ColumnType::Text:
        return kText;
    case ColumnType::Memo:
        return kMemo;
    case ColumnType::Long:
        return kLong;
    case ColumnType::Double:
        return kDouble;
    }
    Fail("unknown column type");
}

// The file as pages in memory, written out at the end.
class PageFile {
public:
    std::uint32_t Allocate() {
        pages_.emplace_back();
        pages_.back().fill(0);
        return static_cast<std::uint32_t>(pages_.size() - 1);
    }
    Page& operator[](std::uint32_t page) { return pages_[page]; }
    const std::vector<Page>& Pages() const { return pages_; }

private:
    std::vector<Page> pages_;
};

// Fills data pages with rows, stored from the end of the page down, as Jet does.
class DataPages {
public:
    DataPages(PageFile& file, std::uint32_t owner) : file_(file), owner_(owner) {}

    // The page and slot the row went to.
    std::pair<std::uint32_t, std::uint16_t> Add(const Bytes& row) {
        if (row.size() > kMaxRowSize) {
            Fail("a row of " + std::to_string(row.size()) + " bytes does not fit a page");
        }
        if (!open_ || kDataHeaderSize + 2 * (rows_ + 1) + row.size() > end_) {
            Start();
        }
        Page& page = file_[current_];
        end_ -= row.size();
        std::memcpy(page.data() + end_, row.data(), row.size());
        Put16(page.data() + kDataHeaderSize + 2 * rows_, static_cast<std::uint32_t>(end_));
        ++rows_;
        Put16(page.data() + kRowCountOffset, rows_);
        Put16(page.data() + 2, static_cast<std::uint32_t>(end_ - kDataHeaderSize - 2 * rows_));
        return {current_, static_cast<std::uint16_t>(rows_ - 1)};
    }

    const std::vector<std::uint32_t>& Used() const { return used_; }

private:
    void Start() {
        current_ = file_.Allocate();
        Page& page = file_[current_];
        page[0] = kPageData;
        page[1] = 0x01;
        Put32(page.data() + 4, owner_);
        Put16(page.data() + 2, static_cast<std::uint32_t>(kJet3PageSize - kDataHeaderSize));
        end_ = kJet3PageSize;
        rows_ = 0;
        open_ = true;
        used_.push_back(current_);
    }

    PageFile& file_;
    std::uint32_t owner_;
    std::uint32_t current_ = 0;
    std::size_t end_ = 0;
    std::uint16_t rows_ = 0;
    bool open_ = false;
    std::vector<std::uint32_t> used_;
};

std::uint32_t PageRow(std::pair<std::uint32_t, std::uint16_t> at) {
    return (at.first << 8) | at.second;
}

// A long memo goes to pages of its own: one page, or a chain of pages each starting with a
// pointer to the next.
Bytes MemoField(PageFile& file, const std::string& text) {
    Bytes field(kMemoHeaderSize, 0);
    const auto length = static_cast<std::uint32_t>(text.size());
    if (text.size() <= kInlineMemoLimit) {
        Put32(field.data(), length | 0x80000000u);
        field.resize(kMemoHeaderSize + text.size());
        std::memcpy(field.data() + kMemoHeaderSize, text.data(), text.size());
        return field;
    }
    if (text.size() <= kMaxRowSize) {
        DataPages lval(file, kLongValueOwner);
        const auto at = lval.Add(Bytes(text.begin(), text.end()));
        Put32(field.data(), length | 0x40000000u);
        Put32(field.data() + 4, PageRow(at));
        return field;
    }
    if (text.size() >= 0x01000000u) {
        Fail("a memo of 16 MB or more");
    }
    constexpr std::size_t kChunk = kMaxRowSize - 4;
    const std::size_t chunks = (text.size() + kChunk - 1) / kChunk;
    // Allocated in order, so that each chunk knows its successor's page before it is written.
    std::vector<std::uint32_t> pages;
    for (std::size_t i = 0; i < chunks; ++i) {
        pages.push_back(file.Allocate());
    }
    for (std::size_t i = 0; i < chunks; ++i) {
        const std::size_t from = i * kChunk;
        const std::size_t size = std::min(kChunk, text.size() - from);
        Page& page = file[pages[i]];
        page[0] = kPageData;
        page[1] = 0x01;
        Put32(page.data() + 4, kLongValueOwner);
        const std::size_t start = kJet3PageSize - 4 - size;
        Put32(page.data() + start, i + 1 < chunks ? (pages[i + 1] << 8) : 0);
        std::memcpy(page.data() + start + 4, text.data() + from, size);
        Put16(page.data() + kDataHeaderSize, static_cast<std::uint32_t>(start));
        Put16(page.data() + kRowCountOffset, 1);
        Put16(page.data() + 2, static_cast<std::uint32_t>(start - kDataHeaderSize - 2));
    }
    Put32(field.data(), length);
    Put32(field.data() + 4, pages.front() << 8);
    return field;
}

// Field bytes for one value, or nullopt for Null.
std::optional<Bytes> FieldBytes(PageFile& file, const FileColumn& column, const Variant& value,
                                const std::string& where) {
    if (IsNull(value)) {
        return std::nullopt;
    }
    const auto* number = std::get_if<double>(&value);
    const auto* text = std::get_if<std::string>(&value);
    const auto* date = std::get_if<DateTime>(&value);
    Bytes out;
    switch (column.type) {
    case kDateTime:
        if (date == nullptr && number == nullptr) {
            Fail(where + ": a date/time or a number is needed");
        }
        PutDouble(out, date != nullptr ? OleDateFromDateTime(*date) : *number);
        return out;
    case kDouble:
        if (number == nullptr) {
            Fail(where + ": a number is needed");
        }
        PutDouble(out, *number);
        return out;
    case kLong:
    case kInteger: {
        const double limit = column.type == kLong ? 2147483648.0 : 32768.0;
        if (number == nullptr || std::trunc(*number) != *number || *number < -limit ||
            *number >= limit) {
            Fail(where + ": a whole number in range is needed");
        }
        const auto whole = static_cast<std::uint32_t>(static_cast<std::int32_t>(*number));
        out.resize(column.size);
        column.size == 4 ? Put32(out.data(), whole) : Put16(out.data(), whole);
        return out;
    }
    case kText:
    case kMemo: {
        if (text == nullptr) {
            Fail(where + ": a text is needed");
        }
        const std::string stored = CodePageText(*text);
        if (column.type == kText) {
            if (stored.size() > kMaxTextBytes) {
                Fail(where + ": a text of more than 255 characters");
            }
            return Bytes(stored.begin(), stored.end());
        }
        return MemoField(file, stored);
    }
    default:
        Fail(where + ": this column takes no values");
    }
}

// One row in the Jet 3 layout: column count, fixed values, variable values, then from the end
// backwards the null mask, the count of variable values, the jump table and their offsets.
Bytes BuildRow(PageFile& file, const std::vector<FileColumn>& columns,
               const std::vector<Variant>& values, const std::string& where) {
    if (values.size() != columns.size()) {
        Fail(where + ": " + std::to_string(values.size()) + " values for " +
             std::to_string(columns.size()) + " columns");
    }
    std::size_t fixedSize = 0;
    std::size_t varCount = 0;
    for (const auto& column : columns) {
        if (column.fixed) {
            fixedSize += column.size;
        } else {
            ++varCount;
        }
    }
    const std::size_t maskSize = (columns.size() + 7) / 8;
    Bytes row(1 + fixedSize, 0);
    row[0] = static_cast<std::uint8_t>(columns.size());
    Bytes mask(maskSize, 0);
    std::vector<std::optional<Bytes>> varValues(varCount);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const auto& column = columns[i];
        auto field = FieldBytes(file, column, values[i], where + ", column " + column.name);
        if (field) {
            mask[column.number / 8] |= static_cast<std::uint8_t>(1u << (column.number % 8));
        }
        if (column.fixed) {
            if (field) {
                std::memcpy(row.data() + 1 + column.fixedOffset, field->data(), column.size);
            }
        } else {
            varValues[column.varIndex] = std::move(field);
        }
    }
    if (varCount == 0) {
        row.insert(row.end(), mask.begin(), mask.end());
        return row;
    }
    std::vector<std::size_t> offsets; // of each variable value, then of their end
    for (const auto& value : varValues) {
        offsets.push_back(row.size());
        if (value) {
            row.insert(row.end(), value->begin(), value->end());
        }
    }
    offsets.push_back(row.size());
    const std::size_t end = row.size();
    const std::size_t jumps = end / 256;
    std::size_t length = end + offsets.size() + jumps + 1 + maskSize;
    // A reader counts (length - 1) / 256 jump bytes; when that is one more than needed, the
    // last of them is a filler it knows to skip.
    std::size_t jumpBytes = jumps;
    if ((length - 1) / 256 == jumps + 1) {
        jumpBytes = jumps + 1;
        ++length;
    }
    if ((length - 1) / 256 != jumpBytes || length > kMaxRowSize) {
        Fail(where + ": the row is too long for a page");
    }
    // Offsets, lowest address first: end of data, then the last value's down to the first's.
    for (std::size_t i = offsets.size(); i-- > 0;) {
        row.push_back(static_cast<std::uint8_t>(offsets[i] & 0xFF));
    }
    // Jump k names the first value whose offset is past (k + 1) * 256.
    Bytes jumpTable(jumpBytes, 0xFF);
    for (std::size_t k = 0; k < jumps; ++k) {
        std::size_t first = 0;
        while (offsets[first] < (k + 1) * 256) {
            ++first;
        }
        jumpTable[jumpBytes - 1 - k] = static_cast<std::uint8_t>(first);
    }
    row.insert(row.end(), jumpTable.begin(), jumpTable.end());
    row.push_back(static_cast<std::uint8_t>(varCount));
    row.insert(row.end(), mask.begin(), mask.end());
    return row;
}

// The table's pages-in-use map (row 0) and free-space map (row 1), on a page of their own.
void WriteMaps(PageFile& file, std::uint32_t mapPage, const std::vector<std::uint32_t>& used) {
    Bytes usage(kMapHeaderSize, 0);
    if (!used.empty()) {
        const auto [low, high] = std::minmax_element(used.begin(), used.end());
        Put32(usage.data() + 1, *low);
        usage.resize(kMapHeaderSize + (*high - *low) / 8 + 1, 0);
        for (auto page : used) {
            const auto bit = page - *low;
            usage[kMapHeaderSize + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
        }
    }
    Bytes freeSpace(kMapHeaderSize + 1, 0);
    if (usage.size() + freeSpace.size() + kDataHeaderSize + 4 > kJet3PageSize) {
        Fail("a table spans too many pages for one usage map");
    }
    Page& page = file[mapPage];
    page[0] = kPageData;
    page[1] = 0x01;
    std::size_t end = kJet3PageSize;
    std::uint16_t slot = 0;
    for (const Bytes* row : {&usage, &freeSpace}) {
        end -= row->size();
        std::memcpy(page.data() + end, row->data(), row->size());
        Put16(page.data() + kDataHeaderSize + 2 * slot++, static_cast<std::uint32_t>(end));
    }
    Put16(page.data() + kRowCountOffset, slot);
    Put16(page.data() + 2, static_cast<std::uint32_t>(end - kDataHeaderSize - 2 * slot));
}

void WriteDefinition(PageFile& file, std::uint32_t definitionPage, std::uint32_t mapPage,
                     const std::vector<FileColumn>& columns, std::size_t rowCount, bool system) {
    Page& page = file[definitionPage];
    page[0] = kPageTableDefinition;
    page[1] = 0x01;
    page[2] = 'V';
    page[3] = 'C';
    const auto varCount = static_cast<std::uint32_t>(
        std::count_if(columns.begin(), columns.end(), [](const auto& c) { return !c.fixed; }));
    Put32(page.data() + 12, static_cast<std::uint32_t>(rowCount));
    page[20] = system ? kSystemTable : kUserTable;
    Put16(page.data() + 21, static_cast<std::uint32_t>(columns.size()));
    Put16(page.data() + 23, varCount);
    Put16(page.data() + 25, static_cast<std::uint32_t>(columns.size()));
    Put32(page.data() + 35, mapPage << 8);
    Put32(page.data() + 39, (mapPage << 8) | 1);
    std::size_t at = kTableColumnsOffset;
    for (const auto& column : columns) {
        std::uint8_t* entry = page.data() + at;
        entry[0] = column.type;
        entry[1] = static_cast<std::uint8_t>(column.number);
        Put16(entry + 3, column.varIndex);
        Put16(entry + 5, column.number);
        if (column.type == kText || column.type == kMemo) {
            Put16(entry + 7, kThaiSortOrder);
        }
        entry[13] = column.fixed ? 0x03 : 0x02; // fixed length; may be Null
        Put16(entry + 14, column.fixedOffset);
        Put16(entry + 16, column.size);
        at += kColumnEntrySize;
    }
    for (const auto& column : columns) {
        const std::string name = CodePageText(column.name);
        if (name.empty() || name.size() > 64 || at + 1 + name.size() > kJet3PageSize) {
            Fail("column name '" + column.name + "' is empty, too long or does not fit");
        }
        page[at++] = static_cast<std::uint8_t>(name.size());
        std::memcpy(page.data() + at, name.data(), name.size());
        at += name.size();
    }
    Put32(page.data() + 8, static_cast<std::uint32_t>(at - 8));
}

void WriteHeader(PageFile& file, const std::string& password) {
    Page& page = file[0];
    const std::uint8_t magic[4] = {0x00, 0x01, 0x00, 0x00};
    std::memcpy(page.data(), magic, sizeof magic);
    const std::string_view signature = "Standard Jet DB";
    std::memcpy(page.data() + 4, signature.data(), signature.size());
    page[0x14] = 0; // Jet 3
    Put16(page.data() + jet::kJet3SortOrderOffset, kThaiSortOrder);
    Put16(page.data() + jet::kCodePageOffset, kThaiCodePage);
    const std::string stored = CodePageText(password);
    if (stored.size() > jet::kJet3PasswordLength || stored.find('\0') != std::string::npos) {
        Fail("a password of more than 20 characters");
    }
    std::memcpy(page.data() + jet::kPasswordOffset, stored.data(), stored.size());
    jet::Rc4Apply(jet::kHeaderKey,
                  std::span(page).subspan(jet::kScrambledOffset, jet::kJet3ScrambledLength));
}

} // namespace

Diary StandardDiary() {
    Diary diary;
    diary.tables.push_back(
        {"Anniversary",
         {{"AnniversaryDate", ColumnType::DateTime}, {"Title", ColumnType::Text}},
         {}});
    diary.tables.push_back(
        {"Appointment",
         {{"AppointmentDate", ColumnType::DateTime}, {"Subject", ColumnType::Text}},
         {}});
    return diary;
}

void WriteJet3(const Diary& diary, const std::filesystem::path& file) {
    PageFile pages;
    pages.Allocate();                                         // 0: header
    pages.Allocate();                                         // 1: unused
    const std::uint32_t catalogDefinition = pages.Allocate(); // 2: the catalog, by convention
    const std::uint32_t catalogMap = pages.Allocate();
    WriteHeader(pages, diary.password);

    struct Placed {
        std::uint32_t definition;
        std::uint32_t map;
        std::vector<FileColumn> columns;
    };
    std::vector<Placed> placed;
    for (const auto& table : diary.tables) {
        std::vector<std::pair<std::string, std::uint8_t>> columns;
        for (const auto& column : table.columns) {
            columns.emplace_back(column.name, TypeCode(column.type));
        }
        if (columns.empty() || columns.size() > 255) {
            Fail("table '" + table.name + "' needs 1 to 255 columns");
        }
        const auto definition = pages.Allocate();
        placed.push_back({definition, pages.Allocate(), Lay(columns)});
    }

    const auto catalogColumns = Lay(
        {{"Id", kLong}, {"Name", kText}, {"Type", kInteger}, {"Flags", kLong}, {"LvProp", kOle}});
    DataPages catalog(pages, catalogDefinition);
    for (std::size_t i = 0; i < diary.tables.size(); ++i) {
        const std::vector<Variant> entry = {static_cast<double>(placed[i].definition),
                                            diary.tables[i].name, 1.0, 0.0, Null{}};
        catalog.Add(BuildRow(pages, catalogColumns, entry, "catalog"));
    }
    WriteDefinition(pages, catalogDefinition, catalogMap, catalogColumns, diary.tables.size(),
                    true);
    WriteMaps(pages, catalogMap, catalog.Used());

    for (std::size_t i = 0; i < diary.tables.size(); ++i) {
        const auto& table = diary.tables[i];
        DataPages data(pages, placed[i].definition);
        for (std::size_t r = 0; r < table.rows.size(); ++r) {
            const std::string where = "table " + table.name + ", row " + std::to_string(r + 1);
            data.Add(BuildRow(pages, placed[i].columns, table.rows[r], where));
        }
        WriteDefinition(pages, placed[i].definition, placed[i].map, placed[i].columns,
                        table.rows.size(), false);
        WriteMaps(pages, placed[i].map, data.Used());
    }

    // Written beside the target and renamed over it, so a reader never sees half a file.
    auto partial = file;
    partial += ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        for (const auto& page : pages.Pages()) {
            out.write(reinterpret_cast<const char*>(page.data()),
                      static_cast<std::streamsize>(page.size()));
        }
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(partial, ignored);
            Fail("cannot write '" + file.string() + "'");
        }
    }
    std::error_code error;
    std::filesystem::rename(partial, file, error);
    if (error) {
        std::filesystem::remove(partial, error);
        Fail("cannot write '" + file.string() + "'");
    }
}

} // namespace zurodid::fixture
