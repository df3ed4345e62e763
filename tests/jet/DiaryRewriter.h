#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zurodid::jettest {

// How the stand-in for the diary program saves.
struct RewriteOptions {
    std::chrono::milliseconds pageGap{0}; // between two pages of one save
    bool randomGaps = false;              // each gap drawn from 0 to pageGap instead
    bool truncates = false;               // every other save empties the file first
    // Between saves: at random a short rest (a burst of saves) or a long one.
    std::chrono::milliseconds shortRest{10};
    std::chrono::milliseconds longRest{150};
    std::uint32_t seed = 1;
};

// A process that saves `versions` into `file` in turn, in place, page by page in a shuffled
// order, as the diary program's engine does, until it is destroyed. The file must exist.
class DiaryRewriter {
public:
    DiaryRewriter(const std::filesystem::path& file, std::vector<std::string> versions,
                  const RewriteOptions& options);
    ~DiaryRewriter(); // kills and reaps the process
    DiaryRewriter(const DiaryRewriter&) = delete;
    DiaryRewriter& operator=(const DiaryRewriter&) = delete;

    // Saves begun so far.
    std::int64_t Saves() const;
    // The longest time that passed between two writes of one save, as the process measured
    // it: a loaded machine can stretch the page gap, and a reader may only be judged against
    // the gaps that really happened.
    std::chrono::nanoseconds LongestGap() const;

private:
    struct Shared;
    Shared* shared_ = nullptr;
    pid_t pid_ = -1;
};

} // namespace zurodid::jettest
