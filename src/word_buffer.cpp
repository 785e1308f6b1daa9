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

// From this size on, buffers are mapped pages of their own.
constexpr std::size_t kMappedBytes = std::size_t{1} << 20;

void* allocate(std::size_t bytes) {
  void* p = std::malloc(std::max<std::size_t>(bytes, 1));
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

#if MORVEX_PACKAGE_REMAP_PAGES
void* map_pages(std::size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return p;
}
#endif

}  // namespace

WordBuffer::WordBuffer(std::size_t bytes) : capacity_(bytes) {
#if MORVEX_PACKAGE_REMAP_PAGES
  if (bytes >= kMappedBytes) {
    data_ = map_pages(bytes);
    mapped_ = true;
    return;
  }
#endif
  data_ = allocate(bytes);
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
  if (bytes >= kMappedBytes) {
    WordBuffer larger(bytes);  // mapped: one copy of less than kMappedBytes
    if (capacity_ != 0) std::memcpy(larger.data_, data_, capacity_);
    *this = std::move(larger);
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
    munmap(data_, capacity_);
    data_ = nullptr;
    return;
  }
#endif
  std::free(data_);
  data_ = nullptr;
}

}  // namespace morvex_package::detail
