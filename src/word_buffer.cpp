#include "word_buffer.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#define MORVEX_PACKAGE_REMAP_PAGES 1
#else
#define MORVEX_PACKAGE_REMAP_PAGES 0
#endif

namespace morvex_package::detail {
namespace {

void* allocate(std::size_t bytes) {
  void* p = std::malloc(std::max<std::size_t>(bytes, 1));
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

WordBuffer WordBuffer::allocated(std::size_t bytes) {
  WordBuffer buffer;
  buffer.data_ = allocate(bytes);
  buffer.capacity_ = bytes;
  return buffer;
}

WordBuffer WordBuffer::mapped(std::size_t bytes) {
#if MORVEX_PACKAGE_REMAP_PAGES
  WordBuffer buffer;
  void* p = mmap(nullptr, std::max<std::size_t>(bytes, 1), PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  buffer.data_ = p;
  buffer.capacity_ = bytes;
  buffer.mapped_ = true;
  return buffer;
#else
  return allocated(bytes);
#endif
}

std::optional<WordBuffer> WordBuffer::reserved(std::size_t bytes) {
#if MORVEX_PACKAGE_REMAP_PAGES
  void* p = mmap(nullptr, std::max<std::size_t>(bytes, 1), PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) return std::nullopt;
  WordBuffer buffer;
  buffer.data_ = p;
  buffer.capacity_ = bytes;
  buffer.mapped_ = true;
  return buffer;
#else
  (void)bytes;
  return std::nullopt;
#endif
}

WordBuffer::WordBuffer(WordBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      capacity_(std::exchange(other.capacity_, 0)),
      mapped_(std::exchange(other.mapped_, false)) {}

WordBuffer& WordBuffer::operator=(WordBuffer&& other) noexcept {
  if (this != &other) {
    release();
    data_ = std::exchange(other.data_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
    mapped_ = std::exchange(other.mapped_, false);
  }
  return *this;
}

WordBuffer::~WordBuffer() { release(); }

void WordBuffer::grow(std::size_t bytes) {
  if (bytes <= capacity_) return;
#if MORVEX_PACKAGE_REMAP_PAGES
  if (mapped_) {
    void* p = mremap(data_, capacity_, bytes, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) throw std::bad_alloc();
    data_ = p;
    capacity_ = bytes;
    return;
  }
#endif
  void* p = std::realloc(data_, std::max<std::size_t>(bytes, 1));
  if (p == nullptr) throw std::bad_alloc();
  data_ = p;
  capacity_ = bytes;
}

void WordBuffer::release() noexcept {
  if (data_ == nullptr) return;
#if MORVEX_PACKAGE_REMAP_PAGES
  if (mapped_) {
    munmap(data_, std::max<std::size_t>(capacity_, 1));
    data_ = nullptr;
    return;
  }
#endif
  std::free(data_);
  data_ = nullptr;
}

}  // namespace morvex_package::detail
