#pragma once

#include "store/jet/IsolatedRun.h"

namespace zurodid::jet {

// Engine error numbers used only inside the Jet reader; the ones the agent branches on are in
// platform/RuntimeError.h.
inline constexpr int kInvalidArgument = 3001;
inline constexpr int kCannotOpenFile = 3051;
inline constexpr int kItemNotFound = 3265;

// The output of a reading child that ended well; otherwise the engine's error for how it ended:
// DatabaseDamaged for a crash, a time, memory or output limit reached (a damaged file does
// that to libmdb), EngineFailure when no process could run it.
PageBuffer OutputOrEngineError(IsolatedResult result);

} // namespace zurodid::jet
