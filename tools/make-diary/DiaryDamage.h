#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string_view>
#include <vector>

namespace zurodid::fixture::damage {

// The ways a diary file gets damaged: by a disk, a copy cut short, a tool that wrote where it
// should not. The header page and the table definitions are what a reader trusts most.
enum class Kind : std::uint8_t {
    BitsFlipped,
    BytesOverwritten,
    RunOverwritten,
    TruncatedAtPage,
    TruncatedMidPage,
    PagesSwapped,
    PageDuplicated,
    HeaderPage,
    TableDefinitionPage,
    DataPage,
    // Not drawn at random (it needs a memo that spans pages, and is the same every time):
    // the page chain of each such memo loops back to its start, and its length says 16 MB.
    LoopingMemo,
};
inline constexpr std::array kAllKinds = {
    Kind::BitsFlipped,         Kind::BytesOverwritten, Kind::RunOverwritten, Kind::TruncatedAtPage,
    Kind::TruncatedMidPage,    Kind::PagesSwapped,     Kind::PageDuplicated, Kind::HeaderPage,
    Kind::TableDefinitionPage, Kind::DataPage,
};

std::string_view NameOf(Kind kind);

// Page size of a Jet file by its version byte: 2048 (Jet 3) or 4096 (Jet 4 and later).
std::size_t PageSizeOf(const std::vector<std::uint8_t>& file);

// `file` damaged one way, drawn from `random`; the same generator state gives the same bytes.
std::vector<std::uint8_t> Damage(std::vector<std::uint8_t> file, Kind kind,
                                 std::mt19937_64& random);

} // namespace zurodid::fixture::damage
