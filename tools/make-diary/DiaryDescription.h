#pragma once

#include "platform/DateTime.h"
#include "tools/make-diary/DiaryWriter.h"

#include <string_view>

namespace zurodid::fixture {

// Reads the plain-text description of a diary that make-diary takes (its format is described
// at the top of main.cpp); relative dates count from `now`. Throws std::runtime_error naming
// the line of the first mistake.
Diary ParseDiaryDescription(std::string_view text, DateTime now);

} // namespace zurodid::fixture
