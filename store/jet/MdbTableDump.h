#pragma once

#include "store/jet/ChildLimits.h"
#include "store/jet/ReaderClient.h"
#include "store/jet/RowStream.h"

#include <string>

namespace zurodid::jet {

// No text of a diary comes near this; a damaged memo can claim 16 MB (and a page chain that
// loops can fill them). A longer text reaches the agent cut here, on a character boundary.
inline constexpr std::size_t kMaxTextBytes = 64 * 1024;

// Files up to this size are read into memory whole; a larger one (no diary comes near it) is
// read page by page, so that the child's memory stays within its limit.
inline constexpr std::size_t kMaxFileInMemory = 64 * 1024 * 1024;

// How libmdb gets the file's pages: from one read of the whole file into memory (each page
// read once, however often libmdb visits it), or through its own stream, a seek and a read
// per visit.
enum class PageSource { InMemory, FileStream };

// How a Jet 3 file's texts reach the stream: as stored, in the rows' one-byte form, when
// libmdb's conversion would give the same letters (any other text is converted); or each one
// converted by libmdb.
enum class StoredTexts { SentAsStored, Converted };

// Parses table `table` of the Jet file `path` with libmdb and writes its rows to `out`.
// Runs inside the isolated child: no exceptions and nothing but libmdb, glib, iconv and
// malloc, because the parent may have had other threads when it forked. Only a regular file is
// opened: a FIFO or a device there would block libmdb's open or read.
void DumpTableRows(const char* path, const char* table, RowStreamWriter& out,
                   PageSource source = PageSource::InMemory,
                   StoredTexts texts = StoredTexts::SentAsStored) noexcept;

// Loads, in the process that forks the reading children, what each of them would load again:
// the converters libmdb opens for a Thai diary's texts, kept open so that they stay loaded.
void PrepareTableDumps() noexcept;

// The same as the work an isolated child runs: file and table, rows to `sink`.
void DumpTableWork(const std::string& path, const std::string& table, const ByteSink& sink);

// The diary's reading as a reader process runs it.
inline constexpr NamedWork kDiaryReaderWork{"diary", &DumpTableWork, &PrepareTableDumps, true};

} // namespace zurodid::jet
