#pragma once

#include <cstdint>

namespace morvex_package::detail {

// The unsigned 32-bit value stored least significant byte first at `p`.
inline std::uint32_t load_le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace morvex_package::detail
