#include "utf8.hpp"

#include <cstdint>
#include <cstring>

namespace morvex_package::detail {
namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the sequence a lead byte opens, or 0 for a byte that opens none.
std::size_t sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;  // continuation bytes and overlong 2-byte leads
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  if (lead < 0xF5) return 4;
  return 0;
}

// The allowed range of the byte after the lead; it excludes overlong forms,
// surrogates and code points above U+10FFFF.
bool second_byte_ok(unsigned char lead, unsigned char byte) {
  switch (lead) {
    case 0xE0: return byte >= 0xA0 && byte <= 0xBF;
    case 0xED: return byte >= 0x80 && byte <= 0x9F;
    case 0xF0: return byte >= 0x90 && byte <= 0xBF;
    case 0xF4: return byte >= 0x80 && byte <= 0x8F;
    default: return is_continuation(byte);
  }
}

bool eight_ascii_bytes(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return (word & 0x8080808080808080ULL) == 0;
}

}  // namespace

std::optional<PackageError::Utf8> find_utf8_error(std::string_view text) noexcept {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    if (i + 8 <= size && eight_ascii_bytes(text.data() + i)) {
      i += 8;
      continue;
    }
    const unsigned char lead = bytes[i];
    const std::size_t length = sequence_length(lead);
    if (length == 0) return PackageError::Utf8{i, 1};
    // Check the bytes after the lead one by one: the first bad one ends the
    // maximal subpart, and running out of text leaves the length open.
    for (std::size_t k = 1; k < length; ++k) {
      if (i + k >= size) return PackageError::Utf8{i, std::nullopt};
      const unsigned char byte = bytes[i + k];
      if (!(k == 1 ? second_byte_ok(lead, byte) : is_continuation(byte))) return PackageError::Utf8{i, k};
    }
    i += length;
  }
  return std::nullopt;
}

}  // namespace morvex_package::detail
