#pragma once

#include <cstdint>
#include <span>

namespace zurodid::jet {

// The stream cipher that scrambles a Jet header page; applying it twice restores the bytes.
// Written here because no library on the target systems offers it outside OpenSSL's legacy
// provider, and it is a dozen lines.
void Rc4Apply(std::span<const std::uint8_t> key, std::span<std::uint8_t> data);

} // namespace zurodid::jet
