#include "store/jet/MdbTableDump.h"

#include "platform/Text.h"
#include "store/Dao.h"
#include "store/jet/IsolatedRun.h"

// glib first: mdbtools.h includes it inside its extern "C" block.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <glib.h>
#include <iconv.h>
#include <iterator>
#include <mdbtools.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace zurodid::jet {
namespace {

constexpr int kOffsetMask = 0x1FFF;
// Row-offset flags as Jet writes them. libmdb 1.0.0 reads them the other way round, so the
// slots are classified here rather than by mdb_fetch_row.
constexpr int kDeletedFlag = 0x8000;  // deleted, or the data of a row moved here
constexpr int kOverflowFlag = 0x4000; // the slot holds a pointer to the row's new place
constexpr int kMaxOverflowHops = 4;
constexpr std::size_t kTextBindSlack = 64;

struct Closer {
    // The file mapped: libmdb's stream reads it until mdb_close.
    void* bytes = MAP_FAILED;
    std::size_t size = 0;
    MdbHandle* mdb = nullptr;
    MdbTableDef* table = nullptr;
    ~Closer() {
        if (table != nullptr) {
            mdb_free_tabledef(table);
        }
        if (mdb != nullptr) {
            mdb_close(mdb);
        }
        if (bytes != MAP_FAILED) {
            ::munmap(bytes, size);
        }
    }
};

bool Fits(const MdbHandle* mdb, int start, long size) {
    return start >= 0 && size >= 0 && start + size <= mdb->fmt->pg_size;
}

// Room for the UTF-8 form of `rawBytes` of stored text (at most three bytes per byte), but
// never much beyond the longest text kept.
void SetBindFor(MdbHandle* mdb, std::size_t rawBytes) {
    mdb_set_bind_size(mdb, std::min(rawBytes * 4, kMaxTextBytes) + kTextBindSlack);
}

// The path of the file being read, for the one line that says a text was cut.
const char* gDumpPath = "";
bool gCutSaid = false;

// Said once a read, with write(2): this runs in the child, where nothing may allocate.
void SayTextCut() {
    if (gCutSaid) {
        return;
    }
    gCutSaid = true;
    static constexpr char kBefore[] =
        "zurodid-agent: reading the diary, a text longer than 64 KiB cut there: error 3049: "
        "the diary file is damaged: ";
    iovec parts[3] = {{const_cast<char*>(kBefore), sizeof kBefore - 1},
                      {const_cast<char*>(gDumpPath), std::strlen(gDumpPath)},
                      {const_cast<char*>("\n"), 1}};
    while (::writev(AgentStandardErrorInChild(), parts, 3) < 0 && errno == EINTR) {
    }
}

// The stored bytes of a Jet 3 text that go into the stream as they are: those that libmdb's
// conversion turns into the letter the rows' one-byte form gives them. Skips the conversion to
// UTF-8 here and back in the agent for nearly every text of a Thai diary. Found for each file
// by libmdb itself, one byte at a time, so that whatever code page the file declares or the
// environment names, a text comes out as libmdb gives it: a byte that starts a sequence or
// changes a state converts to nothing whole alone, so a text holding one is converted.
bool gSentAsStored[256] = {};

void FindBytesSentAsStored(MdbHandle* mdb, StoredTexts texts) {
    std::fill(std::begin(gSentAsStored), std::end(gSentAsStored), false);
    if (texts != StoredTexts::SentAsStored || !IS_JET3(mdb)) {
        return; // Jet 4 stores UCS-2, compressed or not
    }
    // From 1: libmdb's text ends at a NUL.
    for (unsigned byte = 1; byte < 256; ++byte) {
        char letter[3];
        const std::size_t size = Utf8OfThaiTextByte(static_cast<std::uint8_t>(byte), letter);
        const char stored = static_cast<char>(byte);
        char converted[16];
        const int length = mdb_unicode2ascii(mdb, &stored, 1, converted, sizeof converted);
        gSentAsStored[byte] = size > 0 && length == static_cast<int>(size) &&
                              std::memcmp(converted, letter, size) == 0;
    }
}

bool SentAsStored(std::string_view stored) {
    return stored.size() <= kMaxThaiTextLetters &&
           std::all_of(stored.begin(), stored.end(),
                       [](char byte) { return gSentAsStored[static_cast<unsigned char>(byte)]; });
}

void PutText(RowStreamWriter& out, char* text) {
    if (text == nullptr) {
        out.Null();
        return;
    }
    const std::string_view whole(text);
    const std::string_view kept = Utf8PrefixOfBytes(whole, kMaxTextBytes);
    if (kept.size() < whole.size()) {
        SayTextCut();
    }
    out.Text(kept);
    g_free(text);
}

enum class Opened { Handle, NotRegular, ByPath };

// Opens `path` for libmdb. A regular file is looked at through a descriptor opened without
// blocking (opening some devices acts on them, so a stat comes first), and, when it fits,
// mapped whole and handed to libmdb from memory: the pages come straight from the page cache,
// with no copy and no fault per page. A save that cuts the file short meanwhile ends this
// child on SIGBUS; the file has changed then, so the read is taken for one of a busy file and
// made again. Anything unusual (unreadable, empty, too large, not mappable) is left to
// libmdb's own open of the path, which says why it cannot read it as it always did.
Opened OpenForLibmdb(const char* path, PageSource source, Closer& guard) {
    struct stat info {};
    if (::stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
        return Opened::NotRegular;
    }
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return Opened::ByPath;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return Opened::NotRegular;
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    if (source != PageSource::InMemory || size == 0 || size > kMaxFileInMemory) {
        ::close(fd);
        return Opened::ByPath;
    }
    void* bytes = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    ::close(fd);
    if (bytes == MAP_FAILED) {
        return Opened::ByPath;
    }
    guard.bytes = bytes;
    guard.size = size;
    guard.mdb = mdb_open_buffer(bytes, size, MDB_NOFLAGS);
    return Opened::Handle;
}

void PutMemo(MdbHandle* mdb, const MdbField& field, RowStreamWriter& out) {
    if (field.siz < MDB_MEMO_OVERHEAD || !Fits(mdb, field.start, field.siz)) {
        out.Null();
        return;
    }
    const auto header = static_cast<std::uint32_t>(mdb_get_int32(mdb->pg_buf, field.start));
    std::size_t raw = 0;
    if (header & 0x80000000u) {
        raw = static_cast<std::size_t>(field.siz - MDB_MEMO_OVERHEAD);
    } else if (header & 0x40000000u) {
        raw = static_cast<std::size_t>(mdb->fmt->pg_size);
    } else if ((header & 0xFF000000u) == 0) {
        raw = header;
    }
    SetBindFor(mdb, raw);
    PutText(out, mdb_col_to_string(mdb, mdb->pg_buf, field.start, MDB_MEMO, field.siz));
}

void PutValue(MdbHandle* mdb, const MdbColumn& column, const MdbField& field,
              RowStreamWriter& out) {
    if (column.col_type == MDB_BOOL) {
        // A Yes/No value lives in the null bit: set means Yes.
        out.Boolean(!field.is_null);
        return;
    }
    if (field.is_null) {
        out.Null();
        return;
    }
    unsigned char* page = mdb->pg_buf;
    const int start = field.start;
    auto fixed = [&](long size) { return Fits(mdb, start, size); };
    switch (column.col_type) {
    case MDB_BYTE:
        fixed(1) ? out.Number(mdb_get_byte(page, start)) : out.Null();
        break;
    case MDB_INT:
        fixed(2) ? out.Number(static_cast<std::int16_t>(mdb_get_int16(page, start))) : out.Null();
        break;
    case MDB_LONGINT:
    case MDB_COMPLEX:
        fixed(4) ? out.Number(static_cast<std::int32_t>(mdb_get_int32(page, start))) : out.Null();
        break;
    case MDB_FLOAT:
        fixed(4) ? out.Number(mdb_get_single(page, start)) : out.Null();
        break;
    case MDB_DOUBLE:
        fixed(8) ? out.Number(mdb_get_double(page, start)) : out.Null();
        break;
    case MDB_MONEY:
        if (fixed(8)) {
            std::int64_t units = 0;
            std::memcpy(&units, page + start, sizeof units);
            out.Number(static_cast<double>(units) / 10000.0);
        } else {
            out.Null();
        }
        break;
    case MDB_DATETIME:
        fixed(8) ? out.OleDate(mdb_get_double(page, start)) : out.Null();
        break;
    case MDB_NUMERIC:
        if (fixed(17)) {
            char* text = mdb_numeric_to_string(mdb, start, column.col_scale, column.col_prec);
            double value = 0;
            const char* end = text + std::strlen(text);
            const char* first = *text == '+' ? text + 1 : text;
            if (std::from_chars(first, end, value).ec == std::errc()) {
                out.Number(value);
            } else {
                out.Null();
            }
            g_free(text);
        } else {
            out.Null();
        }
        break;
    case MDB_TEXT:
        if (Fits(mdb, start, field.siz)) {
            const std::string_view stored(reinterpret_cast<const char*>(page + start),
                                          static_cast<std::size_t>(field.siz));
            if (SentAsStored(stored)) {
                out.ThaiText(stored);
                break;
            }
            SetBindFor(mdb, static_cast<std::size_t>(field.siz));
            PutText(out, mdb_col_to_string(mdb, page, start, MDB_TEXT, field.siz));
        } else {
            out.Null();
        }
        break;
    case MDB_MEMO:
        PutMemo(mdb, field, out);
        break;
    case MDB_REPID:
        fixed(16) ? PutText(out, mdb_uuid_to_string(page, start)) : out.Null();
        break;
    default:
        // Binary data and OLE objects have no place among the diary's values.
        out.Null();
        break;
    }
}

// Writes the row whose data starts at `rowStart` on the page now in mdb->pg_buf.
void PutRow(MdbTableDef* table, std::vector<MdbField>& fields, int rowStart, std::size_t rowSize,
            std::uint64_t bookmark, std::uint64_t location, RowStreamWriter& out) {
    MdbHandle* mdb = table->entry->mdb;
    if (mdb_crack_row(table, rowStart, rowSize, fields.data()) < 0) {
        return; // unreadable row layout: skipped, as libmdb's own row fetch does
    }
    out.BeginRow(bookmark, location);
    for (unsigned i = 0; i < table->num_cols; ++i) {
        const auto* column = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
        PutValue(mdb, *column, fields[i], out);
    }
}

// Follows a moved row to its data and writes it under its original bookmark; puts the table's
// current page back in mdb->pg_buf afterwards.
void PutMovedRow(MdbTableDef* table, std::vector<MdbField>& fields, int pointerStart,
                 std::size_t pointerSize, std::uint64_t bookmark, RowStreamWriter& out) {
    MdbHandle* mdb = table->entry->mdb;
    const auto homePage = table->cur_phys_pg;
    long pointer = pointerSize >= 4 ? mdb_get_int32(mdb->pg_buf, pointerStart) : 0;
    for (int hop = 0; hop < kMaxOverflowHops && pointer != 0; ++hop) {
        const auto page = static_cast<std::uint32_t>(pointer) >> 8;
        const auto slot = static_cast<int>(pointer & 0xFF);
        if (page == 0 || !mdb_read_pg(mdb, page) || mdb->pg_buf[0] != MDB_PAGE_DATA ||
            static_cast<unsigned long>(mdb_get_int32(mdb->pg_buf, 4)) != table->entry->table_pg) {
            break;
        }
        int start = 0;
        std::size_t size = 0;
        if (mdb_find_row(mdb, slot, &start, &size) != 0 || size == 0) {
            break;
        }
        if ((start & kOverflowFlag) && !(start & kDeletedFlag)) {
            pointer = size >= 4 ? mdb_get_int32(mdb->pg_buf, start & kOffsetMask) : 0;
            continue;
        }
        PutRow(table, fields, start & kOffsetMask, size, bookmark,
               MakeBookmark(page, static_cast<std::uint32_t>(slot)), out);
        break;
    }
    mdb_read_pg(mdb, homePage);
}

} // namespace

void DumpTableRows(const char* path, const char* tableName, RowStreamWriter& out, PageSource source,
                   StoredTexts texts) noexcept {
    gDumpPath = NameOfHandedFile().empty() ? path : NameOfHandedFile().c_str();
    gCutSaid = false;
    Closer guard;
    switch (OpenForLibmdb(path, source, guard)) {
    case Opened::NotRegular:
        out.Damaged("it is not a regular file");
        return;
    case Opened::ByPath:
        guard.mdb = mdb_open(path, MDB_NOFLAGS);
        break;
    case Opened::Handle:
        break;
    }
    MdbHandle* mdb = guard.mdb;
    if (mdb == nullptr) {
        out.Damaged("the database engine cannot open it");
        return;
    }
    if (mdb_read_catalog(mdb, MDB_TABLE) == nullptr) {
        out.Damaged("its table catalog cannot be read");
        return;
    }
    MdbCatalogEntry* entry = mdb_get_catalogentry_by_name(mdb, tableName);
    if (entry == nullptr || entry->object_type != MDB_TABLE) {
        out.TableNotFound();
        return;
    }
    guard.table = mdb_read_table(entry);
    MdbTableDef* table = guard.table;
    if (table == nullptr || mdb_read_columns(table) == nullptr) {
        out.Damaged("the definition of its table cannot be read");
        return;
    }
    if (table->num_cols > MDB_MAX_COLS) {
        out.Damaged("its table has more columns than Jet allows");
        return;
    }
    FindBytesSentAsStored(mdb, texts);
    out.Begin(static_cast<std::uint16_t>(table->num_cols));
    std::vector<MdbField> fields(table->num_cols + 1);
    const int rowCountOffset = mdb->fmt->row_count_offset;
    mdb_rewind_table(table);
    while (mdb_read_next_dpg(table) != 0) {
        const auto page = table->cur_phys_pg;
        const auto slots = static_cast<unsigned>(mdb_get_int16(mdb->pg_buf, rowCountOffset));
        for (unsigned slot = 0; slot < slots; ++slot) {
            int start = 0;
            std::size_t size = 0;
            if (mdb_find_row(mdb, static_cast<int>(slot), &start, &size) != 0 || size == 0) {
                continue; // an empty or unaddressable slot
            }
            if (start & kDeletedFlag) {
                continue;
            }
            const auto bookmark = MakeBookmark(page, slot);
            if (start & kOverflowFlag) {
                PutMovedRow(table, fields, start & kOffsetMask, size, bookmark, out);
            } else {
                PutRow(table, fields, start, size, bookmark, bookmark, out);
            }
        }
    }
    out.Finish();
}

void PrepareTableDumps() noexcept {
    // Code page 874 as a Jet 3 diary declares it, and the UCS-2 of Jet 4, both ways.
    static constexpr const char* kPairs[][2] = {
        {"UTF-8", "CP874"}, {"CP874", "UTF-8"}, {"UTF-8", "UCS-2LE"}, {"UCS-2LE", "UTF-8"}};
    for (const auto& pair : kPairs) {
        static_cast<void>(::iconv_open(pair[0], pair[1]));
    }
}

void DumpTableWork(const std::string& path, const std::string& table, const ByteSink& sink) {
    RowStreamWriter out(sink);
    DumpTableRows(path.c_str(), table.c_str(), out);
}

} // namespace zurodid::jet

namespace zurodid {

void ServeDiaryReaderIfAsked(int argc, char** argv) {
    static constexpr jet::NamedWork kWorks[] = {jet::kDiaryReaderWork};
    jet::ServeReadsIfAsked(argc, argv, kWorks);
}

bool StartDiaryReader() {
    return jet::StartIsolationServer(&jet::DumpTableWork, true);
}

} // namespace zurodid
