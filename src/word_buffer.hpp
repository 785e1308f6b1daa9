#pragma once

// Word-aligned memory for a message being received.

#include <cstddef>
#include <cstdint>

#include <capnp/common.h>

namespace morvex_package::detail {

// Grows without copying once large: big buffers are mapped pages that the
// kernel remaps to a larger size, so growing step by step as bytes arrive
// costs no more than taking the final size at once. Small buffers come from
// the allocator. Failures throw std::bad_alloc.
class WordBuffer {
 public:
  WordBuffer() = default;
  explicit WordBuffer(std::size_t bytes);
  WordBuffer(WordBuffer&& other) noexcept;
  WordBuffer& operator=(WordBuffer&& other) noexcept;
  WordBuffer(const WordBuffer&) = delete;
  WordBuffer& operator=(const WordBuffer&) = delete;
  ~WordBuffer();

  // Enlarges the buffer to `bytes`, keeping its contents.
  void grow(std::size_t bytes);

  std::uint8_t* bytes() const noexcept { return static_cast<std::uint8_t*>(data_); }
  const capnp::word* words() const noexcept { return static_cast<const capnp::word*>(data_); }
  std::size_t capacity() const noexcept { return capacity_; }

 private:
  void release() noexcept;

  void* data_ = nullptr;
  std::size_t capacity_ = 0;
  bool mapped_ = false;
};

}  // namespace morvex_package::detail
