#pragma once

#include "store/jet/ChildLimits.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// What the reader process and its client say to each other over their socket: requests, each
// with a tag of the client's choosing, and one answer for each request run, with its tag.
namespace zurodid::jet::wire {

enum class Kind : std::uint32_t {
    Run,    // fork a child for the work: output descriptor, and the input file when there is one
    Cancel, // kill the child of the tagged run (its answer still comes)
};

struct Request {
    Kind kind = Kind::Run;
    std::uint64_t tag = 0;
    // The work's two texts; with an input file, the child's first text names it.
    char first[1024] = {};
    char second[512] = {};
    std::int64_t wallClockMs = 0;
    std::uint32_t cpuSeconds = 0;
    std::uint64_t extraMemoryBytes = 0;
};

struct Answer {
    std::uint64_t tag = 0;
    std::int32_t waitStatus = 0;
    std::uint8_t killedAtDeadline = 0;
    std::uint8_t noProcess = 0; // no child could be made
};

// A run's request, or none when its texts do not fit.
std::optional<Request> RunRequest(std::uint64_t tag, const std::string& first,
                                  const std::string& second, const IsolationLimits& limits);
IsolationLimits LimitsOf(const Request& request);

// Sends `request` with up to two descriptors beside it (-1: none). False when the peer is gone.
bool Send(int socket, const Request& request, int output, int input);

// A request and the descriptors that came with it (-1: none); empty when the peer is gone or
// sent something that is no request.
struct Received {
    Request request;
    int output = -1;
    int input = -1;
};
std::optional<Received> ReceiveRequest(int socket);

bool Send(int socket, const Answer& answer);
// The next answer within `timeout`; empty when the peer is gone or silent.
std::optional<Answer> ReceiveAnswer(int socket, std::chrono::milliseconds timeout);

} // namespace zurodid::jet::wire
