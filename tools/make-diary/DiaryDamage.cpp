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
    }
    return file;
}

} // namespace zurodid::fixture::damage
