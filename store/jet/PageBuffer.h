#pragma once

#include <cstddef>
#include <string_view>

namespace zurodid::jet {

// Bytes in anonymous pages of their own. A table's rows take megabytes that the agent keeps
// for as long as a recordset is open: here they grow and shrink by moving and unmapping
// pages (mremap) instead of copying, and go back to the system whole when freed, rather than
// staying in the malloc heap. Runs out of memory as the standard containers do (std::bad_alloc).
class PageBuffer {
public:
    PageBuffer() = default;
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;
    PageBuffer(PageBuffer&& other) noexcept;
    PageBuffer& operator=(PageBuffer&& other) noexcept;
    ~PageBuffer();

    static PageBuffer CopyOf(std::string_view bytes);

    char* data() { return data_; }
    const char* data() const { return data_; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    std::string_view view() const { return {data_, size_}; }

    // Room for at least `room` bytes after size(); the bytes may move.
    void ReserveTail(std::size_t room);
    // The first `size` (<= capacity()) bytes count.
    void Resize(std::size_t size);
    void Append(std::string_view bytes);
    // Pages past size() go back to the system.
    void ShrinkToFit();

private:
    void Release() noexcept;

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

} // namespace zurodid::jet
