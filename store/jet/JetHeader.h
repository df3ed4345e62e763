#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace zurodid::jet {

enum class JetVersion { Jet3, Jet4 };

inline constexpr std::size_t kJet3PageSize = 2048;
inline constexpr std::size_t kJet4PageSize = 4096;

// Where the scrambled part of the header page starts, and its key.
inline constexpr std::size_t kScrambledOffset = 0x18;
inline constexpr std::size_t kJet3ScrambledLength = 126;
inline constexpr std::size_t kJet4ScrambledLength = 128;
inline constexpr std::array<std::uint8_t, 4> kHeaderKey = {0xC7, 0xDA, 0x39, 0x6B};

// Offsets inside the header page once it is unscrambled.
inline constexpr std::size_t kJet3SortOrderOffset = 0x3A;
inline constexpr std::size_t kCodePageOffset = 0x3C;
inline constexpr std::size_t kDatabaseKeyOffset = 0x3E;
inline constexpr std::size_t kPasswordOffset = 0x42;
inline constexpr std::size_t kJet3PasswordLength = 20;
inline constexpr std::size_t kJet4PasswordLength = 40;
inline constexpr std::size_t kJet4CreationDateOffset = 0x72;

// What the agent needs from a diary's header page.
struct JetHeader {
    JetVersion version = JetVersion::Jet3;
    std::uint16_t codePage = 0;
    std::string password; // UTF-8; empty when the database has none
};

// Reads the header page of `file`. RuntimeError: FileNotFound when it does not exist,
// UnrecognizedFormat when it is not a Jet 3 or Jet 4 database (Access 2007 and later files
// included), DatabaseDamaged when it is too short to hold a header page.
JetHeader ReadJetHeader(const std::filesystem::path& file);

// The same on bytes already read: at least the header page.
JetHeader ParseJetHeader(std::span<const std::uint8_t> page);

// The password part of a connect text such as ";PWD=secret": everything after "PWD=" (the
// rest of the text, so that a password may hold a semicolon); empty when there is none.
std::string PasswordOfConnect(std::string_view connect);

} // namespace zurodid::jet
