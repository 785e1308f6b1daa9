#pragma once

// Word-aligned memory for a message being received.

#include <cstddef>
#include <cstdint>
#include <optional>

#include <capnp/common.h>

namespace morvex_package::detail {

// Either memory from the allocator, which may recycle memory the process
// already touched, or mapped pages of its own, which the kernel can remap to
// a larger size without copying. Failures throw std::bad_alloc.
class WordBuffer {
 public:
  WordBuffer() = default;
  static WordBuffer allocated(std::size_t bytes);
  static WordBuffer mapped(std::size_t bytes);
  // Address space for `bytes` whose memory is committed only as it is
  // written; nothing when the system will not hand out that much.
  static std::optional<WordBuffer> reserved(std::size_t bytes);
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
