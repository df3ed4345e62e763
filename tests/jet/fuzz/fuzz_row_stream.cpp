// What the reading child sends is checked in the agent's process: any bytes must give rows or
// a numbered engine error, nothing else.
#include "platform/RuntimeError.h"
#include "store/jet/RowStream.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const auto rows =
            zurodid::jet::DecodeRowStream(zurodid::jet::PageBuffer::CopyOf(std::string_view(
                                              reinterpret_cast<const char*>(data), size)),
                                          "Appointment");
        for (std::size_t row = 0; row < rows.size(); ++row) {
            if (rows.Values(row).size() != rows.columnCount) {
                std::abort();
            }
        }
    } catch (const zurodid::RuntimeError& error) {
        if (error.Number() != zurodid::ErrorNumber::DatabaseDamaged &&
            error.Number() != zurodid::ErrorNumber::TableNotFound) {
            std::abort();
        }
    }
    return 0;
}
