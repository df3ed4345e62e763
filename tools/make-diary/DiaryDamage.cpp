#include "tools/make-diary/DiaryDamage.h"

#include <algorithm>

namespace zurodid::fixture::damage {
namespace {

constexpr std::uint8_t kDataPage = 0x01;
constexpr std::uint8_t kTableDefinitionPage = 0x02;
// The header page's scrambled block (password, code page, sort order) starts here.
constexpr std::size_t kScrambledStart = 0x18;
constexpr std::size_t kScrambledLength = 128;

class Draw {
public:
    explicit Draw(std::mt19937_64& random) : random_(random) {}
    std::size_t Between(std::size_t from, std::size_t to) {
        return std::uniform_int_distribution<std::size_t>(from, to)(random_);
    }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(Between(0, 255)); }

private:
    std::mt19937_64& random_;
};

// Pages whose type byte says `type`; page 0 (the header) is never one of them.
std::vector<std::size_t> PagesOfType(const std::vector<std::uint8_t>& file, std::size_t page,
                                     std::uint8_t type) {
    std::vector<std::size_t> found;
    for (std::size_t at = page; at + page <= file.size(); at += page) {
        if (file[at] == type) {
            found.push_back(at / page);
        }
    }
    return found;
}

// A few bytes changed or a short run overwritten inside [start, end).
void DamageRange(std::vector<std::uint8_t>& file, std::size_t start, std::size_t end, Draw& draw) {
    end = std::min(end, file.size());
    if (start >= end) {
        return;
    }
    if (draw.Between(0, 1) == 0) {
        for (std::size_t n = draw.Between(1, 8); n > 0; --n) {
            file[draw.Between(start, end - 1)] = draw.Byte();
        }
    } else {
        const std::size_t at = draw.Between(start, end - 1);
        const std::size_t length = std::min(draw.Between(2, 64), end - at);
        const std::uint8_t fill = draw.Between(0, 2) == 0 ? 0 : draw.Byte();
        for (std::size_t i = 0; i < length; ++i) {
            file[at + i] = draw.Between(0, 1) == 0 ? fill : draw.Byte();
        }
    }
}

void DamagePageOfType(std::vector<std::uint8_t>& file, std::size_t page, std::uint8_t type,
                      Draw& draw) {
    const auto pages = PagesOfType(file, page, type);
    if (pages.empty()) {
        return;
    }
    const std::size_t start = pages[draw.Between(0, pages.size() - 1)] * page;
    DamageRange(file, start, start + page, draw);
}

std::uint32_t Get32(const std::vector<std::uint8_t>& file, std::size_t at) {
    return static_cast<std::uint32_t>(file[at]) | (static_cast<std::uint32_t>(file[at + 1]) << 8) |
           (static_cast<std::uint32_t>(file[at + 2]) << 16) |
           (static_cast<std::uint32_t>(file[at + 3]) << 24);
}

void Set32(std::vector<std::uint8_t>& file, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        file[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// Jet 3 data pages: the row count at 8, the first row's offset at 10, the owner at 4.
constexpr std::uint32_t kLongValueOwner = 0x4C41564C; // "LVAL"
constexpr std::size_t kJet3Page = 2048;
constexpr std::uint32_t kLongestRow = 2036; // a longer memo spans pages

void LoopMemoChains(std::vector<std::uint8_t>& file) {
    if (PageSizeOf(file) != kJet3Page) {
        return;
    }
    const std::size_t pages = file.size() / kJet3Page;
    // Pages that hold one piece of a memo spread over several: one row, starting with the
    // pointer (page << 8) to the next piece, 0 on the last.
    std::vector<std::uint32_t> next(pages, 0);
    std::vector<bool> piece(pages, false), pointedTo(pages, false);
    for (std::size_t page = 1; page < pages; ++page) {
        const std::size_t at = page * kJet3Page;
        if (file[at] != kDataPage || Get32(file, at + 4) != kLongValueOwner ||
            (file[at + 8] | (file[at + 9] << 8)) != 1) {
            continue;
        }
        const std::size_t row = file[at + 10] | (file[at + 11] << 8);
        if (row < 12 || row + 4 > kJet3Page) {
            continue;
        }
        const std::uint32_t pointer = Get32(file, at + row);
        if ((pointer & 0xFF) != 0 || (pointer >> 8) >= pages) {
            continue;
        }
        piece[page] = true;
        next[page] = pointer >> 8;
    }
    for (std::size_t page = 1; page < pages; ++page) {
        if (piece[page] && next[page] != 0) {
            pointedTo[next[page]] = true;
        }
    }
    for (std::size_t head = 1; head < pages; ++head) {
        if (!piece[head] || pointedTo[head] || next[head] == 0) {
            continue;
        }
        std::size_t tail = head;
        for (std::size_t hops = 0; next[tail] != 0 && piece[next[tail]] && hops < pages; ++hops) {
            tail = next[tail];
        }
        const std::size_t tailRow =
            file[tail * kJet3Page + 10] | (file[tail * kJet3Page + 11] << 8);
        Set32(file, tail * kJet3Page + tailRow, static_cast<std::uint32_t>(head << 8));
        // The memo's field: its length (top byte 0), then the pointer to the head.
        const auto pointer = static_cast<std::uint32_t>(head << 8);
        for (std::size_t at = 4; at + 4 <= file.size(); ++at) {
            if (Get32(file, at) == pointer && file[at - 1] == 0 &&
                Get32(file, at - 4) > kLongestRow &&
                Get32(file, (at / kJet3Page) * kJet3Page + 4) != kLongValueOwner) {
                Set32(file, at - 4, 0x00FFFFFFu);
            }
        }
    }
}

} // namespace

std::string_view NameOf(Kind kind) {
    switch (kind) {
    case Kind::BitsFlipped:
        return "bits flipped";
    case Kind::BytesOverwritten:
        return "bytes overwritten";
    case Kind::RunOverwritten:
        return "run overwritten";
    case Kind::TruncatedAtPage:
        return "truncated at a page";
    case Kind::TruncatedMidPage:
        return "truncated mid-page";
    case Kind::PagesSwapped:
        return "pages swapped";
    case Kind::PageDuplicated:
        return "page duplicated";
    case Kind::HeaderPage:
        return "header page";
    case Kind::TableDefinitionPage:
        return "table definition";
    case Kind::DataPage:
        return "data page";
    case Kind::LoopingMemo:
        return "looping memo";
    }
    return "?";
}

std::size_t PageSizeOf(const std::vector<std::uint8_t>& file) {
    return file.size() > 0x14 && file[0x14] == 0 ? 2048 : 4096;
}

std::vector<std::uint8_t> Damage(std::vector<std::uint8_t> file, Kind kind,
                                 std::mt19937_64& random) {
    Draw draw(random);
    const std::size_t page = PageSizeOf(file);
    const std::size_t pages = file.size() / page;
    if (file.empty() || pages < 2) {
        return file;
    }
    auto pageStart = [&](std::size_t index) { return static_cast<long>(index * page); };
    switch (kind) {
    case Kind::BitsFlipped:
        for (std::size_t n = draw.Between(1, 32); n > 0; --n) {
            file[draw.Between(0, file.size() - 1)] ^=
                static_cast<std::uint8_t>(1u << draw.Between(0, 7));
        }
        break;
    case Kind::BytesOverwritten:
        for (std::size_t n = draw.Between(1, 16); n > 0; --n) {
            file[draw.Between(0, file.size() - 1)] = draw.Byte();
        }
        break;
    case Kind::RunOverwritten: {
        const std::size_t at = draw.Between(0, file.size() - 1);
        const std::size_t length = std::min(draw.Between(8, page), file.size() - at);
        const int fill = static_cast<int>(draw.Between(0, 2)); // zeros, 0xFF or noise
        for (std::size_t i = 0; i < length; ++i) {
            file[at + i] = fill == 0 ? 0 : fill == 1 ? 0xFF : draw.Byte();
        }
        break;
    }
    case Kind::TruncatedAtPage:
        file.resize(draw.Between(0, pages - 1) * page);
        break;
    case Kind::TruncatedMidPage:
        file.resize(draw.Between(0, pages - 1) * page + draw.Between(1, page - 1));
        break;
    case Kind::PagesSwapped: {
        const std::size_t a = draw.Between(0, pages - 1);
        const std::size_t b = draw.Between(0, pages - 1);
        std::swap_ranges(file.begin() + pageStart(a), file.begin() + pageStart(a + 1),
                         file.begin() + pageStart(b));
        break;
    }
    case Kind::PageDuplicated: {
        const std::size_t from = draw.Between(0, pages - 1);
        const std::size_t to = draw.Between(0, pages - 1);
        if (from != to) {
            std::copy(file.begin() + pageStart(from), file.begin() + pageStart(from + 1),
                      file.begin() + pageStart(to));
        }
        break;
    }
    case Kind::HeaderPage:
        // Half the time inside the scrambled block that holds the password and code page.
        if (draw.Between(0, 1) == 0) {
            DamageRange(file, kScrambledStart, kScrambledStart + kScrambledLength, draw);
        } else {
            DamageRange(file, 0, page, draw);
        }
        break;
    case Kind::TableDefinitionPage:
        DamagePageOfType(file, page, kTableDefinitionPage, draw);
        break;
    case Kind::DataPage:
        DamagePageOfType(file, page, kDataPage, draw);
        break;
    case Kind::LoopingMemo:
        LoopMemoChains(file);
        break;
    }
    return file;
}

} // namespace zurodid::fixture::damage
