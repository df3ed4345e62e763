// What the reading child sends is checked in the agent's process: any bytes must give rows or
// a numbered engine error, nothing else, and the same whether they arrive whole or in pieces.
#include "platform/RuntimeError.h"
#include "store/jet/RowStream.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

namespace {

using zurodid::jet::PageBuffer;
using zurodid::jet::RowStreamDecoder;
using zurodid::jet::TableRows;

// The error number, or 0 with every row's values.
int Decode(const std::function<TableRows()>& decode,
           std::vector<std::vector<zurodid::Variant>>& values) {
    try {
        const auto rows = decode();
        for (std::size_t row = 0; row < rows.size(); ++row) {
            values.push_back(rows.Values(row));
            if (values.back().size() != rows.columnCount) {
                std::abort();
            }
        }
        return 0;
    } catch (const zurodid::RuntimeError& error) {
        if (error.Number() != zurodid::ErrorNumber::DatabaseDamaged &&
            error.Number() != zurodid::ErrorNumber::TableNotFound) {
            std::abort();
        }
        return error.Number();
    }
}

// Equal values; numbers bit for bit (a stored NaN is no fault).
bool Same(const std::vector<std::vector<zurodid::Variant>>& a,
          const std::vector<std::vector<zurodid::Variant>>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t row = 0; row < a.size(); ++row) {
        for (std::size_t i = 0; i < a[row].size(); ++i) {
            const auto& x = a[row][i];
            const auto& y = b[row][i];
            const auto* dx = std::get_if<double>(&x);
            const auto* dy = std::get_if<double>(&y);
            if (dx != nullptr && dy != nullptr ? std::memcmp(dx, dy, sizeof *dx) != 0 : x != y) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::vector<zurodid::Variant>> whole;
    const int wholeError = Decode(
        [&] { return zurodid::jet::DecodeRowStream(PageBuffer::CopyOf(bytes), "Appointment"); },
        whole);
    std::vector<std::vector<zurodid::Variant>> pieces;
    const int piecesError = Decode(
        [&] {
            RowStreamDecoder decoder("Appointment");
            PageBuffer buffer;
            const std::size_t piece = size % 61 + 1;
            for (std::size_t at = 0; at < size; at += piece) {
                buffer.Append(bytes.substr(at, piece));
                decoder.Received(buffer);
            }
            return decoder.Finish(std::move(buffer));
        },
        pieces);
    if (wholeError != piecesError || !Same(whole, pieces)) {
        std::abort();
    }
    return 0;
}
