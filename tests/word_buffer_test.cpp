#include <cstring>
#include <numeric>
#include <vector>

#include <doctest/doctest.h>

#include "word_buffer.hpp"

namespace morvex_package {
namespace {

using detail::WordBuffer;

// Fills the buffer's first `bytes` with a pattern, grows it, and checks
// that the pattern survived and the new room is writable.
void check_growth(WordBuffer buffer, std::size_t bytes, std::size_t grown) {
  std::vector<std::uint8_t> pattern(bytes);
  std::iota(pattern.begin(), pattern.end(), std::uint8_t{7});
  std::memcpy(buffer.bytes(), pattern.data(), bytes);
  buffer.grow(grown);
  REQUIRE(buffer.capacity() == grown);
  CHECK(std::memcmp(buffer.bytes(), pattern.data(), bytes) == 0);
  CHECK(reinterpret_cast<std::uintptr_t>(buffer.words()) % alignof(capnp::word) == 0);
  buffer.bytes()[grown - 1] = 0x5A;
  CHECK(buffer.bytes()[grown - 1] == 0x5A);
}

TEST_CASE("word buffers keep their contents as they grow") {
  check_growth(WordBuffer::allocated(4096), 4096, 3 << 20);
  check_growth(WordBuffer::mapped(1 << 20), 1 << 20, 5 << 20);
  auto reserved = WordBuffer::reserved(8 << 20);
  REQUIRE(reserved.has_value());
  CHECK(reserved->capacity() == (8u << 20));
  check_growth(std::move(*reserved), 8 << 20, 9 << 20);

  WordBuffer moved = WordBuffer::allocated(16);
  WordBuffer target = std::move(moved);
  CHECK(target.capacity() == 16);
  CHECK(moved.capacity() == 0);
}

}  // namespace
}  // namespace morvex_package
