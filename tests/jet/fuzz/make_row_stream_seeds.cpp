// Writes well-formed reader streams, one file each, into the folder given: a corpus for
// fuzz_row_stream, which on its own hardly ever gets past a stream's header and count to the
// values (texts in both forms, dates, numbers, Yes/No, Null).
#include "store/jet/RowStream.h"

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

namespace {

using zurodid::jet::MakeBookmark;
using zurodid::jet::RowStreamWriter;

std::string Stream(const std::function<void(RowStreamWriter&)>& write) {
    std::string bytes;
    RowStreamWriter out([&](const char* data, std::size_t size) {
        bytes.append(data, size);
        return true;
    });
    write(out);
    return bytes;
}

void Appointments(RowStreamWriter& out) {
    out.Begin(2);
    out.BeginRow(MakeBookmark(5, 0), MakeBookmark(5, 0));
    out.OleDate(46363.375); // 2026-12-07 09:00
    out.Text("meeting room 4");
    out.BeginRow(MakeBookmark(5, 1), MakeBookmark(6, 3)); // a row Jet moved
    out.OleDate(-1.5);
    out.ThaiText("\xBB\xC3\xD0\xAA\xD8\xC1 10:00"); // "ประชุม 10:00" in the one-byte form
    out.BeginRow(MakeBookmark(7, 2), MakeBookmark(7, 2));
    out.Null();
    out.Text("\xE0\xB8\x81 \xE2\x82\xAC"); // a Thai letter and a euro sign
    out.Finish();
}

void EveryKind(RowStreamWriter& out) {
    out.Begin(4);
    for (int row = 0; row < 3; ++row) {
        out.BeginRow(MakeBookmark(9, static_cast<std::uint32_t>(row)),
                     MakeBookmark(9, static_cast<std::uint32_t>(row)));
        out.Number(row * 2.5);
        out.Boolean(row % 2 == 0);
        out.OleDate(1e7); // beyond the four-byte seconds
        out.ThaiText("");
    }
    out.Finish();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_row_stream_seeds FOLDER\n");
        return 2;
    }
    const std::pair<const char*, std::string> seeds[] = {
        {"appointments", Stream(Appointments)},
        {"every-kind", Stream(EveryKind)},
        {"empty-table", Stream([](RowStreamWriter& out) {
             out.Begin(2);
             out.Finish();
         })},
        {"no-table", Stream([](RowStreamWriter& out) { out.TableNotFound(); })},
        {"damaged", Stream([](RowStreamWriter& out) { out.Damaged("page 12 loops"); })},
    };
    for (const auto& [name, bytes] : seeds) {
        std::ofstream file(std::string(argv[1]) + "/" + name, std::ios::binary);
        if (!file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) ||
            !file.flush()) {
            std::fprintf(stderr, "make_row_stream_seeds: cannot write %s\n", name);
            return 1;
        }
    }
    return 0;
}
