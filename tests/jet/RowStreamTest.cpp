#include "store/jet/RowStream.h"

#include "JetTestSupport.h"
#include "store/jet/JetErrors.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <unistd.h>

namespace zurodid::jettest {
namespace {

std::string Stream(const std::function<void(jet::RowStreamWriter&)>& fill) {
    std::string bytes;
    jet::RowStreamWriter out([&](const char* data, std::size_t size) {
        bytes.append(data, size);
        return true;
    });
    fill(out);
    return bytes;
}

// Three rows of one text each, bookmarks 1 to 3.
std::string ThreeRows() {
    return Stream([](jet::RowStreamWriter& out) {
        out.Begin(1);
        for (std::uint64_t row = 1; row <= 3; ++row) {
            out.BeginRow(row, row);
            out.Text("row");
        }
        out.Finish();
    });
}

std::string WithRowCount(std::string bytes, std::uint64_t count) {
    std::memcpy(bytes.data() + bytes.size() - sizeof count, &count, sizeof count);
    return bytes;
}

std::string WithByte(std::string bytes, std::size_t at, char value) {
    bytes[at] = value;
    return bytes;
}

TEST(JetRowStream, RoundTripsValues) {
    const auto bytes = Stream([](jet::RowStreamWriter& out) {
        out.Begin(3);
        out.BeginRow(jet::MakeBookmark(7, 1), jet::MakeBookmark(7, 1));
        out.Null();
        out.Text("ทดสอบ");
        out.OleDate(2.5);
        out.BeginRow(jet::MakeBookmark(7, 2), jet::MakeBookmark(9, 0));
        out.Number(-1);
        out.Text("");
        out.OleDate(1e12); // beyond the calendar: kept as the stored number
        out.BeginRow(jet::MakeBookmark(7, 3), jet::MakeBookmark(7, 3));
        out.Boolean(true);
        out.Boolean(false);
        out.Null();
        out.Finish();
    });
    const auto rows = jet::DecodeRowStream(jet::PageBuffer::CopyOf(bytes), "T");
    ASSERT_EQ(rows.columnCount, 3);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows.Values(0),
              (std::vector<Variant>{Null{}, std::string("ทดสอบ"), At(1900, 1, 1, 12)}));
    EXPECT_EQ(rows.Location(1), jet::MakeBookmark(9, 0));
    EXPECT_EQ(rows.Location(2), jet::MakeBookmark(7, 3));
    EXPECT_EQ(rows.Values(1), (std::vector<Variant>{-1.0, std::string(""), 1e12}));
    EXPECT_EQ(rows.Value(1, 2), Variant(1e12)); // one field, without the others
    EXPECT_EQ(rows.Values(2), (std::vector<Variant>{true, false, Null{}}));
}

TEST(JetRowStream, RejectsEveryMalformedStream) {
    const auto good = Stream([](jet::RowStreamWriter& out) {
        out.Begin(1);
        out.BeginRow(1, 1);
        out.Text("abc");
        out.Finish();
    });
    auto withByte = [&](std::size_t at, char value) { return WithByte(good, at, value); };
    // A text as the file stores it, "กฮ", whose letters start at kLetters.
    const auto thai = Stream([](jet::RowStreamWriter& out) {
        out.Begin(1);
        out.BeginRow(1, 1);
        out.ThaiText("\xA1\xCE");
        out.Finish();
    });
    constexpr std::size_t kLetters = 4 + 1 + 2 + 1 + 16 + 2;
    ASSERT_EQ(jet::DecodeRowStream(jet::PageBuffer::CopyOf(thai), "T").Value(0, 0),
              Variant(std::string("กฮ")));
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"cut short", good.substr(0, good.size() - 3)},
        {"no end", good.substr(0, good.size() - 9)},
        {"trailing byte", good + "x"},
        {"bad magic", withByte(0, 'X')},
        {"bad status", withByte(4, 'Q')},
        {"bad tag", withByte(4 + 1 + 2 + 1 + 16, 9)},
        {"row count differs", withByte(good.size() - 8, 5)},
        {"text longer than the stream", withByte(4 + 1 + 2 + 1 + 16 + 1 + 3, 0x7F)},
        {"more rows than stated", WithRowCount(ThreeRows(), 2)},
        {"fewer rows than stated", WithRowCount(ThreeRows(), 4)},
        {"damaged report", Stream([](jet::RowStreamWriter& out) { out.Damaged("bad page"); })},
        {"Thai text longer than the stream", WithByte(thai, kLetters - 1, 0x7F)},
        {"byte between ASCII and the Thai letters", WithByte(thai, kLetters, '\x80')},
        {"byte just before the Thai letters", WithByte(thai, kLetters, '\xA0')},
        {"byte past the Thai letters", WithByte(thai, kLetters + 1, '\xFC')},
    };
    for (const auto& [name, bytes] : cases) {
        EXPECT_EQ(ErrorNumberOf([&] { jet::DecodeRowStream(jet::PageBuffer::CopyOf(bytes), "T"); }),
                  ErrorNumber::DatabaseDamaged)
            << name;
    }
    // Well formed, but more than the memory a table may take once decoded.
    EXPECT_EQ(ErrorNumberOf([&] { jet::DecodeRowStream(jet::PageBuffer::CopyOf(good), "T", 16); }),
              ErrorNumber::DatabaseDamaged);
    EXPECT_EQ(
        ErrorNumberOf([&] { jet::DecodeRowStream(jet::PageBuffer::CopyOf(good), "T", 4096); }), 0);
    EXPECT_EQ(ErrorNumberOf([&] {
                  jet::DecodeRowStream(jet::PageBuffer::CopyOf(Stream(
                                           [](jet::RowStreamWriter& out) { out.TableNotFound(); })),
                                       "T");
              }),
              ErrorNumber::TableNotFound);
}

std::uint64_t BookmarkOf(std::uint32_t i) {
    return jet::MakeBookmark(i / 50 + 1, i % 50);
}

// Every 97th row's values were moved by Jet to a page of their own.
std::uint64_t LocationOf(std::uint32_t i) {
    return i % 97 == 5 ? jet::MakeBookmark(100000 + i, 0) : BookmarkOf(i);
}

// Row `i` of a table whose values are as long as `i` makes them, so that the packing moves
// every row by a different distance.
void WriteRow(jet::RowStreamWriter& out, std::uint32_t i) {
    out.BeginRow(BookmarkOf(i), LocationOf(i));
    out.Number(i);
    out.Text(std::string(i * 7 % 301, static_cast<char>('a' + i % 26)));
    if (i % 3 == 0) {
        out.Null();
    } else if (i % 3 == 1) {
        out.ThaiText("\xB7\xB4\xCA\xCD\xBA " + std::to_string(i)); // as the file stores it
    } else {
        out.Text("ทดสอบ " + std::to_string(i));
    }
}

std::vector<Variant> ExpectedRow(std::uint32_t i) {
    return {static_cast<double>(i), std::string(i * 7 % 301, static_cast<char>('a' + i % 26)),
            i % 3 == 0 ? Variant(Null{}) : Variant("ทดสอบ " + std::to_string(i))};
}

// How the stream reaches the decoder.
enum class Arrival { Whole, InPieces, FromAChild };

struct PackCase {
    const char* name;
    std::uint32_t rows;
    Arrival arrival;
    std::size_t pieceSize; // InPieces
};

TEST(JetRowStream, PacksTheValuesInPlaceAsTheyArriveAndKeepsNoSpareAfterThem) {
    const std::vector<PackCase> cases = {
        {"no rows", 0, Arrival::Whole, 0},
        {"one row", 1, Arrival::Whole, 0},
        {"some pages", 403, Arrival::Whole, 0},
        {"byte by byte", 403, Arrival::InPieces, 1},
        {"in pieces of 7 bytes", 403, Arrival::InPieces, 7},
        {"in pages", 403, Arrival::InPieces, 4096},
        {"megabytes through a child", 40000, Arrival::FromAChild, 0},
    };
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    for (const auto& param : cases) {
        const auto fill = [&](jet::RowStreamWriter& out) {
            out.Begin(3);
            for (std::uint32_t i = 0; i < param.rows; ++i) {
                WriteRow(out, i);
            }
            out.Finish();
        };
        jet::RowStreamDecoder decoder("T");
        // The most the buffer held while the stream arrived.
        std::size_t mostHeld = 0;
        const auto received = [&](jet::PageBuffer& buffer) {
            decoder.Received(buffer);
            mostHeld = std::max(mostHeld, buffer.size());
        };
        jet::PageBuffer rest;
        switch (param.arrival) {
        case Arrival::Whole:
            rest = jet::PageBuffer::CopyOf(Stream(fill));
            break;
        case Arrival::InPieces: {
            const auto whole = Stream(fill);
            for (std::size_t at = 0; at < whole.size(); at += param.pieceSize) {
                rest.Append(std::string_view(whole).substr(at, param.pieceSize));
                received(rest);
            }
            break;
        }
        case Arrival::FromAChild:
            rest = jet::OutputOrEngineError(jet::RunIsolated(
                [&](const jet::ByteSink& sink) {
                    jet::RowStreamWriter out(sink);
                    fill(out);
                },
                jet::IsolationLimits{}, received));
            break;
        }
        const auto rows = decoder.Finish(std::move(rest));
        ASSERT_EQ(rows.size(), param.rows) << param.name;
        for (std::uint32_t i = 0; i < param.rows; ++i) {
            ASSERT_EQ(rows.Values(i), ExpectedRow(i)) << param.name << ", row " << i;
            ASSERT_EQ(rows.Bookmark(i), BookmarkOf(i));
            ASSERT_EQ(rows.Location(i), LocationOf(i));
        }
        // Where the values were found is kept only for the moved rows.
        EXPECT_EQ(rows.moved.size(), (param.rows + 91) / 97) << param.name;
        EXPECT_LT(rows.stream.capacity() - rows.stream.size(), page) << param.name;
        if (param.arrival != Arrival::Whole) {
            // Never the whole stream at once: the values kept, then at most what one read
            // brings and the start of a row (the longest here under 400 bytes).
            EXPECT_LT(mostHeld,
                      rows.stream.size() + std::max<std::size_t>(param.pieceSize, 64 * 1024) + 400)
                << param.name;
        }
    }
}

TEST(JetRowStream, KeepsEveryBookmarkAndRefusesARowListedTwiceInAnyOrder) {
    constexpr std::uint64_t kFar = 1ull << 40; // beyond four bytes
    const std::vector<std::pair<std::vector<std::uint64_t>, int>> cases = {
        {{1, 2, 3}, 0},
        {{3, 1, 2}, 0},
        {{1, kFar, 2}, 0},
        {{kFar + 1, kFar, 0xFFFFFFFFu}, 0},
        {{1, 1}, ErrorNumber::DatabaseDamaged},
        {{1, 2, 1}, ErrorNumber::DatabaseDamaged},
        {{5, 2, 9, 2}, ErrorNumber::DatabaseDamaged},
        {{kFar, 1, kFar}, ErrorNumber::DatabaseDamaged},
    };
    for (const auto& [bookmarks, expected] : cases) {
        const auto bytes = Stream([&](jet::RowStreamWriter& out) {
            out.Begin(0);
            for (const auto bookmark : bookmarks) {
                out.BeginRow(bookmark, bookmark);
            }
            out.Finish();
        });
        jet::TableRows rows;
        EXPECT_EQ(ErrorNumberOf(
                      [&] { rows = jet::DecodeRowStream(jet::PageBuffer::CopyOf(bytes), "T"); }),
                  expected)
            << ::testing::PrintToString(bookmarks);
        if (expected == 0) {
            ASSERT_EQ(rows.size(), bookmarks.size());
            for (std::size_t i = 0; i < bookmarks.size(); ++i) {
                EXPECT_EQ(rows.Bookmark(i), bookmarks[i]);
            }
            EXPECT_EQ(rows.bookmarks.narrow(),
                      std::all_of(bookmarks.begin(), bookmarks.end(),
                                  [&](std::uint64_t bookmark) { return bookmark < (1ull << 32); }));
        }
    }
}

struct TextCase {
    const char* name;
    std::string text;
    bool oneByteALetter; // kept in the short form
};

std::string Repeated(const std::string& part, int times) {
    std::string whole;
    for (int i = 0; i < times; ++i) {
        whole += part;
    }
    return whole;
}

TEST(JetRowStream, PackedBookmarksComeBackInOrderAndWhenReadAgain) {
    constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
    const std::vector<std::uint64_t> bookmarks = {
        (1ull << 16) | 3, (1ull << 16) | 4, 9ull << 16, 7, kMost, 0, kMost, 1ull << 40, 127, 16384};
    jet::PackedBookmarks packed;
    for (const auto bookmark : bookmarks) {
        packed.push_back(bookmark);
    }
    ASSERT_EQ(packed.size(), bookmarks.size());
    jet::PackedBookmarks::Reader read(packed);
    // In order, each row twice, then again from the start, a row skipped at a time.
    std::vector<std::size_t> visits;
    for (std::size_t i = 0; i < 2 * bookmarks.size(); ++i) {
        visits.push_back(i / 2);
    }
    for (std::size_t i = 0; i < bookmarks.size(); i += 2) {
        visits.push_back(i);
    }
    for (const std::size_t row : visits) {
        EXPECT_EQ(read[row], bookmarks[row]) << "row " << row;
    }
}

TEST(JetRowStream, AValueFoundFromThePlaceOfTheRowBeforeIsTheRowsOwn) {
    // Values of several sizes, over three groups of rows.
    const auto bytes = Stream([](jet::RowStreamWriter& out) {
        out.Begin(3);
        for (int row = 0; row < 20; ++row) {
            out.BeginRow(row + 1u, row + 1u);
            out.Number(row);
            out.Text(Repeated(row % 2 ? "é" : "ก", row)); // long form, one byte a letter
            row % 3 ? out.OleDate(40000.5 + row) : out.Null();
        }
        out.Finish();
    });
    const auto rows = jet::DecodeRowStream(jet::PageBuffer::CopyOf(bytes), "T");
    jet::TableRows::Place place;
    for (const std::size_t row :
         std::initializer_list<std::size_t>{0,  0,  1,  2,  3,  4,  5,  6,  7, 8,  9,  10, 11,
                                            12, 13, 14, 15, 16, 17, 18, 19, 0, 15, 16, 8,  9}) {
        for (std::uint16_t column = 0; column < 3; ++column) {
            EXPECT_EQ(rows.Value(row, column, place), rows.Values(row)[column])
                << "row " << row << " column " << column;
        }
    }
}

TEST(JetRowStream, TextComesBackByteForByteInWhicheverFormItIsKept) {
    const std::vector<TextCase> cases = {
        {"empty", "", true},
        {"ASCII with control bytes", std::string("a\0b\x7F\t", 5), true},
        {"Thai", "ทดสอบ", true},
        {"mixed", "ประชุมทีม 09:30 / meeting ห้อง 4", true},
        {"first Thai letter U+0E01", "\xE0\xB8\x81", true},
        {"last Thai letter U+0E5B", "\xE0\xB9\x9B", true},
        {"below the Thai letters U+0E00", "ก\xE0\xB8\x80", false},
        {"past the Thai letters U+0E5C", "ก\xE0\xB9\x9C", false},
        {"other script", "ก é", false},
        {"TIS-620 byte in the text", "ก\xA1", false},
        {"cut-short sequence", "ก\xE0\xB8", false},
        {"bad continuation", "\xE0\xB8\xC1", false},
        {"overlong form of U+0E01", "\xF0\x80\xB8\x81", false},
        {"255 Thai letters", Repeated("ก", 255), true},
        {"256 Thai letters", Repeated("ก", 256), false},
        {"a memo", Repeated("บันทึก note ", 100), false},
    };
    for (const auto& param : cases) {
        const auto bytes = Stream([&](jet::RowStreamWriter& out) {
            out.Begin(3);
            out.BeginRow(1, 1);
            out.Text(param.text);
            out.Text(param.text);
            out.Number(7);
            out.Finish();
        });
        const auto rows = jet::DecodeRowStream(jet::PageBuffer::CopyOf(bytes), "T");
        EXPECT_EQ(rows.Values(0), (std::vector<Variant>{param.text, param.text, 7.0}))
            << param.name;
        // Tag and length, then the text, twice; then the number.
        const auto letters = std::count_if(param.text.begin(), param.text.end(),
                                           [](char byte) { return (byte & 0xC0) != 0x80; });
        const std::size_t kept =
            param.oneByteALetter ? 2 + static_cast<std::size_t>(letters) : 5 + param.text.size();
        EXPECT_EQ(rows.stream.size(), 2 * kept + 9) << param.name;
    }
}

struct DateCase {
    const char* name;
    double stored;
    bool inFourBytes; // kept as seconds
};

TEST(JetRowStream, DatesComeBackAsTheDateTheirNumberStandsFor) {
    using namespace std::chrono;
    const auto ole = [](DateTime at) { return OleDateFromDateTime(at); };
    constexpr DateTime kEpoch{local_days{year{2000} / 1 / 1}};
    const std::vector<DateCase> cases = {
        {"an appointment", ole(At(2026, 5, 1, 9, 16)), true},
        {"a fraction that rounds to the second", 46143.3861111111, true},
        {"the first second in four bytes", ole(kEpoch + seconds(INT32_MIN)), true},
        {"the last second in four bytes", ole(kEpoch + seconds(INT32_MAX)), true},
        {"a second before", ole(kEpoch + seconds(INT32_MIN) - seconds(1)), false},
        {"a second after", ole(kEpoch + seconds(INT32_MAX) + seconds(1)), false},
        {"before the epoch of the day numbers", -1.25, false},
        {"beyond the calendar", 1e12, false},
        {"not a number", std::numeric_limits<double>::quiet_NaN(), false},
    };
    for (const auto& param : cases) {
        const auto bytes = Stream([&](jet::RowStreamWriter& out) {
            out.Begin(2);
            out.BeginRow(1, 1);
            out.OleDate(param.stored);
            out.Text("x");
            out.Finish();
        });
        const auto rows = jet::DecodeRowStream(jet::PageBuffer::CopyOf(bytes), "T");
        const auto date = DateTimeFromOleDate(param.stored);
        const auto value = rows.Value(0, 0);
        if (date) {
            EXPECT_EQ(value, Variant(*date)) << param.name;
        } else {
            ASSERT_TRUE(std::holds_alternative<double>(value)) << param.name;
            EXPECT_EQ(std::memcmp(&std::get<double>(value), &param.stored, sizeof(double)), 0)
                << param.name;
        }
        EXPECT_EQ(rows.Value(0, 1), Variant(std::string("x"))) << param.name;
        EXPECT_EQ(rows.stream.size(), (param.inFourBytes ? 5u : 9u) + 3u) << param.name;
    }
}

} // namespace
} // namespace zurodid::jettest
