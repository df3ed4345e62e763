#pragma once

#include "store/jet/ChildLimits.h"

#include <string>

namespace zurodid::jettest {

// A reader process's work for the isolation tests: a child case by name (see
// IsolationTest.cpp), the parent of the process it runs in ("parent"), or whether another
// child of the same folder ran at the same time ("meet").
void CaseWork(const std::string& name, const std::string& folder, const jet::ByteSink& sink);

} // namespace zurodid::jettest
