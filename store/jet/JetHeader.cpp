#include "store/jet/JetHeader.h"

#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/RuntimeError.h"
#include "store/jet/JetErrors.h"
#include "store/jet/Rc4.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace zurodid::jet {
namespace {

constexpr std::uint8_t kMagic[4] = {0x00, 0x01, 0x00, 0x00};
constexpr std::string_view kJetSignature = "Standard Jet DB";
constexpr std::string_view kAceSignature = "Standard ACE DB";
constexpr std::size_t kSignatureOffset = 4;
constexpr std::size_t kVersionOffset = 0x14;

std::uint16_t Int16At(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::string_view SignatureOf(std::span<const std::uint8_t> page) {
    return {reinterpret_cast<const char*>(page.data()) + kSignatureOffset, kJetSignature.size()};
}

std::string Jet3Password(std::span<const std::uint8_t> plain, std::uint16_t codePage) {
    const auto* start = reinterpret_cast<const char*>(plain.data()) + kPasswordOffset;
    std::string_view raw(start, kJet3PasswordLength);
    raw = raw.substr(0, raw.find('\0'));
    if (raw.empty()) {
        return {};
    }
    // A header without a code page holds Western text.
    const std::string charset = "CP" + std::to_string(codePage == 0 ? 1252 : codePage);
    if (auto text = ConvertCharset(raw, charset.c_str(), "UTF-8"))
        return *text;
    return ConvertCharset(raw, "CP1252", "UTF-8").value_or(std::string());
}

std::string Jet4Password(std::span<const std::uint8_t> plain) {
    double created = 0;
    std::memcpy(&created, plain.data() + kJet4CreationDateOffset, sizeof created);
    std::uint32_t mask = 0;
    if (std::isfinite(created) && created > -2147483648.0 && created < 2147483648.0) {
        mask = static_cast<std::uint32_t>(static_cast<std::int32_t>(std::floor(created)));
    }
    std::string utf16;
    for (std::size_t i = 0; i + 1 < kJet4PasswordLength; i += 2) {
        const auto lo = static_cast<char>(plain[kPasswordOffset + i] ^ (mask >> (8 * (i % 4))));
        const auto hi =
            static_cast<char>(plain[kPasswordOffset + i + 1] ^ (mask >> (8 * ((i + 1) % 4))));
        if (lo == 0 && hi == 0) {
            break;
        }
        utf16.push_back(lo);
        utf16.push_back(hi);
    }
    return utf16.empty() ? std::string()
                         : ConvertCharset(utf16, "UTF-16LE", "UTF-8").value_or(std::string());
}

} // namespace

JetHeader ParseJetHeader(std::span<const std::uint8_t> page) {
    const bool magicOk = page.size() >= kSignatureOffset + kJetSignature.size() &&
                         std::memcmp(page.data(), kMagic, sizeof kMagic) == 0;
    if (magicOk && SignatureOf(page) == kAceSignature) {
        throw RuntimeError(ErrorNumber::UnrecognizedFormat,
                           "The diary is an Access 2007 or later file (.accdb format), which "
                           "cannot be read; save it in Access 97 or 2000-2003 format.");
    }
    if (!magicOk || SignatureOf(page) != kJetSignature) {
        throw RuntimeError(ErrorNumber::UnrecognizedFormat,
                           "Unrecognized database format: the diary file is not a Jet database.");
    }
    if (page.size() < kJet3PageSize) {
        throw RuntimeError(ErrorNumber::DatabaseDamaged,
                           "The diary file is damaged: it is shorter than its header page.");
    }
    const std::uint8_t version = page[kVersionOffset];
    if (version >= 2) {
        throw RuntimeError(ErrorNumber::UnrecognizedFormat,
                           "The diary is an Access 2007 or later database, which cannot be read; "
                           "save it in Access 97 or 2000-2003 format.");
    }
    JetHeader header;
    header.version = version == 0 ? JetVersion::Jet3 : JetVersion::Jet4;
    const std::size_t scrambled =
        header.version == JetVersion::Jet3 ? kJet3ScrambledLength : kJet4ScrambledLength;
    std::vector<std::uint8_t> plain(page.begin(), page.begin() + kJet3PageSize);
    Rc4Apply(kHeaderKey, std::span(plain).subspan(kScrambledOffset, scrambled));
    header.codePage = Int16At(plain, kCodePageOffset);
    header.password = header.version == JetVersion::Jet3 ? Jet3Password(plain, header.codePage)
                                                         : Jet4Password(plain);
    return header;
}

JetHeader ReadJetHeader(const std::filesystem::path& file) {
    // A FIFO or a device in the diary's place is never opened: its open or read could block.
    const RegularFileOpen opened = OpenRegularFileForReading(file);
    if (opened.fd < 0) {
        if (!opened.exists) {
            throw RuntimeError(ErrorNumber::FileNotFound,
                               "Could not find the diary file '" + file.string() + "'.");
        }
        if (opened.error == EACCES || opened.error == EPERM) {
            throw RuntimeError(kCannotOpenFile, "Cannot open the diary file '" + file.string() +
                                                    "': permission denied or the file is locked.");
        }
        throw RuntimeError(ErrorNumber::UnrecognizedFormat, "'" + file.string() + "' is not a " +
                                                                "diary database: " + opened.reason +
                                                                ".");
    }
    std::vector<std::uint8_t> page(kJet3PageSize);
    std::size_t got = 0;
    while (got < page.size()) {
        const ssize_t n = ::read(opened.fd, page.data() + got, page.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(opened.fd);
    page.resize(got);
    return ParseJetHeader(page);
}

std::string PasswordOfConnect(std::string_view connect) {
    for (std::size_t at = 0; at + 4 <= connect.size(); ++at) {
        const bool segmentStart = at == 0 || connect[at - 1] == ';';
        if (!segmentStart) {
            continue;
        }
        std::string key(connect.substr(at, 4));
        for (auto& c : key) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        if (key == "PWD=") {
            return std::string(connect.substr(at + 4));
        }
    }
    return {};
}

} // namespace zurodid::jet
