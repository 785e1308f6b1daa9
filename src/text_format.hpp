#pragma once

// Building the library's message texts: decimal numbers, "0x"-style hex in
// lower case without leading zeros, and texts, concatenated.

#include <charconv>
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

#include <tl/expected.hpp>

#include <morvex_package/error.hpp>

namespace morvex_package::detail {

struct Hex {
  std::uint64_t value;
};

inline void append(std::string& out, std::string_view text) { out += text; }

inline void append(std::string& out, std::unsigned_integral auto value) {
  char digits[20];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, static_cast<std::size_t>(end - digits));
}

inline void append(std::string& out, Hex hex) {
  char digits[16];
  auto end = std::to_chars(digits, digits + sizeof digits, hex.value, 16).ptr;
  out.append(digits, static_cast<std::size_t>(end - digits));
}

template <class... Parts>
std::string concat(const Parts&... parts) {
  std::string out;
  (append(out, parts), ...);
  return out;
}

// The error of a broken rule, ready to return from a Result function.
template <class... Parts>
tl::unexpected<PackageError> invalid(const Parts&... parts) {
  return tl::unexpected<PackageError>(PackageError::Invalid{concat(parts...)});
}

}  // namespace morvex_package::detail
