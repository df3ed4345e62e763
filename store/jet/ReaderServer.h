#pragma once

#include "store/jet/ChildLimits.h"

#include <sys/types.h>

namespace zurodid::jet {

// The reader process's loop: for each request on `socket` it forks a child that runs `work`
// within the request's limits, and answers with how the child ended. It is the only process
// that waits for its children or kills them: at their wall clock, when the client cancels a run,
// and when the client has gone (then it ends too). It dies with `parent`, and does not start
// when `parent` has gone already. `prepare`, when given, runs once before it serves: what it
// loads, every child has from the start.
[[noreturn]] void ServeReads(int socket, IsolatedWork work, void (*prepare)(),
                             pid_t parent) noexcept;

} // namespace zurodid::jet
