#include "store/jet/PageBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace zurodid::jet {
namespace {

std::size_t PageSize() {
    static const auto size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

std::size_t WholePages(std::size_t bytes) {
    const std::size_t page = PageSize();
    if (bytes > SIZE_MAX - page) {
        throw std::bad_alloc();
    }
    return (bytes + page - 1) / page * page;
}

} // namespace

PageBuffer::PageBuffer(PageBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

PageBuffer& PageBuffer::operator=(PageBuffer&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

PageBuffer::~PageBuffer() {
    Release();
}

void PageBuffer::Release() noexcept {
    if (data_ != nullptr) {
        ::munmap(data_, capacity_);
    }
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
}

PageBuffer PageBuffer::CopyOf(std::string_view bytes) {
    PageBuffer buffer;
    buffer.Append(bytes);
    return buffer;
}

void PageBuffer::ReserveTail(std::size_t room) {
    if (room <= capacity_ - size_) {
        return;
    }
    if (room > SIZE_MAX / 2 - size_) {
        throw std::bad_alloc();
    }
    // Doubling costs no copies here, only address space.
    const std::size_t wanted = WholePages(std::max(size_ + room, 2 * capacity_));
    void* moved = data_ == nullptr ? ::mmap(nullptr, wanted, PROT_READ | PROT_WRITE,
                                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                   : ::mremap(data_, capacity_, wanted, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) {
        throw std::bad_alloc();
    }
    data_ = static_cast<char*>(moved);
    capacity_ = wanted;
}

void PageBuffer::Resize(std::size_t size) {
    size_ = std::min(size, capacity_);
}

void PageBuffer::Append(std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    ReserveTail(bytes.size());
    std::memcpy(data_ + size_, bytes.data(), bytes.size());
    size_ += bytes.size();
}

void PageBuffer::ShrinkToFit() {
    if (size_ == 0) {
        Release();
        return;
    }
    const std::size_t kept = WholePages(size_);
    if (kept < capacity_) {
        // Shrinking in place always succeeds: the pages past `kept` are unmapped.
        ::munmap(data_ + kept, capacity_ - kept);
        capacity_ = kept;
    }
}

} // namespace zurodid::jet
