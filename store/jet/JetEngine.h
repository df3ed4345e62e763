#pragma once

#include "store/Dao.h"
#include "store/jet/TableReader.h"

#include <memory>

namespace zurodid::jet {

// The Jet engine with chosen reader options (tests use short limits); MakeJetEngine() uses
// the defaults.
std::shared_ptr<DBEngine> MakeJetEngine(const ReaderOptions& options,
                                        std::shared_ptr<TablePrefetch> prefetch = nullptr);

} // namespace zurodid::jet
