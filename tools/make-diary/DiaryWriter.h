#pragma once

#include "store/Variant.h"

#include <filesystem>
#include <string>
#include <vector>

namespace zurodid::fixture {

// Writes diaries as Jet 3 files for tests, benchmarks and the demo folder. The files read in
// libmdb and mdb-export; they lack the indexes and system tables that Access wants.

enum class ColumnType { DateTime, Text, Memo, Long, Double };

struct Column {
    std::string name;
    ColumnType type;
};

struct Table {
    std::string name;
    std::vector<Column> columns;
    std::vector<std::vector<Variant>> rows;
};

struct Diary {
    std::vector<Table> tables;
    std::string password; // empty: none
};

// The usual diary: "Anniversary" (date at position 0, title text at 1) and "Appointment"
// (date/time at 0, subject text at 1), empty rows.
Diary StandardDiary();

// Writes a Jet 3 file (code page 874); throws std::runtime_error on failure: a value that
// does not suit its column, a text longer than 255 bytes in code page 874, a password longer
// than 20, a row wider than a page, an unwritable file. Text is UTF-8 in, code page 874 in
// the file; characters that code page lacks become "?".
void WriteJet3(const Diary& diary, const std::filesystem::path& file);

} // namespace zurodid::fixture
