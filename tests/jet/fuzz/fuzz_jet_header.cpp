// The header page of any file the agent is pointed at is read in the agent's own process:
// any bytes must give a header or a numbered engine error, nothing else.
#include "platform/RuntimeError.h"
#include "store/jet/JetHeader.h"

#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const auto header = zurodid::jet::ParseJetHeader(std::span(data, size));
        // The password is at most 20 code-page characters or 20 UTF-16 units.
        if (header.password.size() > 80) {
            std::abort();
        }
    } catch (const zurodid::RuntimeError& error) {
        if (error.Number() != zurodid::ErrorNumber::UnrecognizedFormat &&
            error.Number() != zurodid::ErrorNumber::DatabaseDamaged) {
            std::abort();
        }
    }
    return 0;
}
