#pragma once

#include "store/jet/RowStream.h"

namespace zurodid::jet {

// Parses table `table` of the Jet file `path` with libmdb and writes its rows to `out`.
// Runs inside the isolated child: no exceptions and nothing but libmdb, glib, iconv and
// malloc, because the parent may have had other threads when it forked.
void DumpTableRows(const char* path, const char* table, RowStreamWriter& out) noexcept;

} // namespace zurodid::jet
