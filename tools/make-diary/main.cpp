// make-diary: writes a Jet 3 diary (Zurodid.mdb) from a plain-text description, for tests,
// benchmarks and the demo folder.
//
//   make-diary [--damage KIND] DESCRIPTION OUTPUT.mdb      (DESCRIPTION "-" reads standard input)
//
// --damage looping-memo: every memo that spans pages gets a page chain that loops back to its
// start and a length of 16 MB, as a damaged file can hold (for tests of the bounds on texts).
//
// The description, one statement a line; "#" starts a comment line:
//
//   password TEXT           the database password (at most 20 characters); none by default
//   table NAME              starts a table
//   column NAME TYPE        a column of the current table, in order; TYPE is datetime, text,
//                           memo, long or double. A table without column lines gets the usual
//                           two: "Anniversary" and "Appointment" a date/time and a text, any
//                           other table "Date" and "Text".
//   row V1 | V2 | ...       a row: one value for each column
//   repeat N V1 | V2 | ...  N rows; "{n}" in the values stands for 1 to N
//
// Values: null (Null in any column); text as it stands, trimmed, or in double quotes to keep
// spaces and "|" ("" for a quote); UTF-8, stored in code page 874 (Thai). Numbers as 12 or
// -3.5. Dates and times:
//   2024-05-17  or  2024-05-17 09:30  or  2024-05-17 09:30:15     absolute
//   now  now+2m  now-1h  now+3d  now+30s                             relative to the clock
//   +0d 09:05  +1d  -2d 18:00                 days from today, at a time (default 00:00)
//
// See examples/demo.txt.

#include "platform/DateTime.h"
#include "tools/make-diary/DiaryDamage.h"
#include "tools/make-diary/DiaryDescription.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
    namespace damage = zurodid::fixture::damage;
    std::optional<damage::Kind> damageKind;
    if (argc == 5 && std::string_view(argv[1]) == "--damage") {
        if (std::string_view(argv[2]) != "looping-memo") {
            std::cerr << "make-diary: unknown damage " << argv[2] << " (known: looping-memo)\n";
            return 2;
        }
        damageKind = damage::Kind::LoopingMemo;
        argv += 2;
        argc -= 2;
    }
    if (argc != 3) {
        std::cerr << "usage: make-diary [--damage looping-memo] DESCRIPTION OUTPUT.mdb  "
                     "(DESCRIPTION - for stdin)\n";
        return 2;
    }
    const std::string source = argv[1];
    std::string text;
    if (source == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), {});
    } else {
        std::ifstream in(source, std::ios::binary);
        if (!in) {
            std::cerr << "make-diary: cannot read " << source << '\n';
            return 1;
        }
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    try {
        const auto diary = zurodid::fixture::ParseDiaryDescription(text, zurodid::LocalNow());
        zurodid::fixture::WriteJet3(diary, argv[2]);
        if (damageKind) {
            std::ifstream in(argv[2], std::ios::binary);
            std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
            std::mt19937_64 unused;
            bytes = damage::Damage(std::move(bytes), *damageKind, unused);
            std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
            if (!out.flush()) {
                throw std::runtime_error(std::string("cannot write ") + argv[2]);
            }
        }
    } catch (const std::exception& error) {
        std::cerr << "make-diary: " << source << ": " << error.what() << '\n';
        return 1;
    }
    return 0;
}
