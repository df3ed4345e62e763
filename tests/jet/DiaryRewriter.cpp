#include "DiaryRewriter.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <numeric>
#include <random>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zurodid::jettest {
namespace {

constexpr std::size_t kPage = 2048;

using Clock = std::chrono::steady_clock;

} // namespace

// Written by the child, read by the parent: lock-free atomics in shared memory.
struct DiaryRewriter::Shared {
    std::atomic<std::int64_t> saves{0};
    std::atomic<std::int64_t> longestGapNs{0};
};

namespace {

[[noreturn]] void SaveForEver(const std::filesystem::path& file,
                              const std::vector<std::string>& versions,
                              const RewriteOptions& options, std::atomic<std::int64_t>& saves,
                              std::atomic<std::int64_t>& longestGapNs) {
    const int fd = ::open(file.c_str(), O_WRONLY);
    if (fd < 0) {
        ::_exit(2);
    }
    std::mt19937 random(options.seed);
    for (std::size_t save = 0;; ++save) {
        const std::string& bytes = versions[save % versions.size()];
        const std::size_t pages = (bytes.size() + kPage - 1) / kPage;
        std::vector<std::size_t> order(pages);
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::shuffle(order.begin(), order.end(), random);
        saves.fetch_add(1);
        auto last = Clock::now();
        const auto wrote = [&] {
            const auto now = Clock::now();
            const std::int64_t gap = (now - last).count();
            std::int64_t longest = longestGapNs.load();
            while (gap > longest && !longestGapNs.compare_exchange_weak(longest, gap)) {
            }
            last = now;
        };
        if (options.truncates && save % 2 == 1) {
            if (::ftruncate(fd, 0) != 0) {
                ::_exit(3);
            }
            wrote();
        }
        for (std::size_t i = 0; i < pages; ++i) {
            if (i > 0 && options.pageGap.count() > 0) {
                const auto gap =
                    options.randomGaps
                        ? std::chrono::milliseconds(random() % (options.pageGap.count() + 1))
                        : options.pageGap;
                std::this_thread::sleep_for(gap);
            }
            const std::size_t at = order[i] * kPage;
            const std::size_t size = std::min(kPage, bytes.size() - at);
            if (::pwrite(fd, bytes.data() + at, size, static_cast<off_t>(at)) !=
                static_cast<ssize_t>(size)) {
                ::_exit(4);
            }
            wrote();
        }
        if (::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) {
            ::_exit(5);
        }
        std::this_thread::sleep_for(random() % 2 == 0 ? options.shortRest : options.longRest);
    }
}

} // namespace

DiaryRewriter::DiaryRewriter(const std::filesystem::path& file, std::vector<std::string> versions,
                             const RewriteOptions& options) {
    void* memory =
        ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        throw std::runtime_error("no shared memory for the rewriter");
    }
    shared_ = new (memory) Shared;
    pid_ = ::fork();
    if (pid_ < 0) {
        ::munmap(memory, sizeof(Shared));
        throw std::runtime_error("cannot start the rewriter");
    }
    if (pid_ == 0) {
        SaveForEver(file, versions, options, shared_->saves, shared_->longestGapNs);
    }
}

DiaryRewriter::~DiaryRewriter() {
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    shared_->~Shared();
    ::munmap(shared_, sizeof(Shared));
}

std::int64_t DiaryRewriter::Saves() const {
    return shared_->saves.load();
}

std::chrono::nanoseconds DiaryRewriter::LongestGap() const {
    return std::chrono::nanoseconds(shared_->longestGapNs.load());
}

} // namespace zurodid::jettest
