#pragma once

namespace zurodid::jet {

// Engine error numbers used only inside the Jet reader; the ones the agent branches on are in
// platform/RuntimeError.h.
inline constexpr int kInvalidArgument = 3001;
inline constexpr int kCannotOpenFile = 3051;
inline constexpr int kItemNotFound = 3265;

} // namespace zurodid::jet
