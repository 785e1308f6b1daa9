#include "message_io.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include <capnp/serialize.h>

#include <morvex_package/application.hpp>

#include "checked_math.hpp"
#include "failure.hpp"
#include "little_endian.hpp"
#include "text_format.hpp"

namespace morvex_package {

capnp::ReaderOptions capnp_reader_options() {
  capnp::ReaderOptions options;
  options.traversalLimitInWords = std::numeric_limits<std::uint64_t>::max();
  options.nestingLimit = 64;
  return options;
}

namespace detail {
namespace {

constexpr std::size_t kWordBytes = sizeof(capnp::word);
// Memory for a streamed body follows the bytes that arrive, not the size
// its segment table claims, so that a few bytes claiming gigabytes cost next
// to nothing:
//  - a claim of up to kWholeClaimBytes is taken at once from the allocator,
//    which may recycle memory the process already has;
//  - a larger claim of up to kReservedClaimBytes is reserved as address
//    space whose memory is committed only as the bytes are written;
//  - a larger claim, or one the system will not reserve (a limited address
//    space), gets mapped pages that start at kFirstMappedBytes and double
//    only once the bytes received fill them. Growing them remaps rather
//    than copies, but moved pages can be slower to reach on some virtual
//    machines, which is why reserving comes first.
constexpr std::size_t kWholeClaimBytes = std::size_t{32} << 20;
constexpr std::size_t kReservedClaimBytes = std::size_t{1} << 30;
constexpr std::size_t kFirstMappedBytes = std::size_t{1} << 20;

// The segment table: how many segments, and each one's size in words.
struct SegmentTable {
  std::vector<std::uint32_t> segment_words;
  std::uint64_t table_bytes = 0;  // including the padding to a whole word
  std::uint64_t body_words = 0;

  std::uint64_t message_bytes() const { return table_bytes + body_words * kWordBytes; }
};

// Number of segments from the table's first four bytes, refusing tables
// longer than a reader accepts.
std::size_t segment_count(const std::uint8_t* first_word) {
  const std::uint64_t count = std::uint64_t{load_le32(first_word)} + 1;
  if (count > kMaxSegments) fail_capnp(concat("message has too many segments (", count, ")"));
  return static_cast<std::size_t>(count);
}

std::uint64_t table_bytes_for(std::size_t count) {
  // 4 bytes of count, 4 per segment, padded to a whole word.
  return (count + 2) / 2 * kWordBytes;
}

// Parses a complete table held in `bytes`.
SegmentTable parse_table(const std::uint8_t* bytes, std::size_t count) {
  SegmentTable table;
  table.table_bytes = table_bytes_for(count);
  table.segment_words.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t words = load_le32(bytes + 4 + 4 * i);
    table.segment_words.push_back(words);
    table.body_words += words;  // at most 512 * 2^32: cannot overflow
  }
  return table;
}

std::vector<kj::ArrayPtr<const capnp::word>> carve_segments(const SegmentTable& table,
                                                            const capnp::word* body) {
  std::vector<kj::ArrayPtr<const capnp::word>> segments;
  segments.reserve(table.segment_words.size());
  for (const auto words : table.segment_words) {
    segments.emplace_back(body, words);
    body += words;
  }
  return segments;
}

WordBuffer body_buffer(std::size_t total) {
  if (total <= kWholeClaimBytes) return WordBuffer::allocated(total);
  if (total <= kReservedClaimBytes) {
    if (auto reserved = WordBuffer::reserved(total)) return std::move(*reserved);
  }
  return WordBuffer::mapped(kFirstMappedBytes);
}

void read_exactly(kj::InputStream& input, void* buffer, std::size_t bytes, const char* where) {
  if (bytes != 0 && input.tryRead(buffer, bytes, bytes) < bytes) {
    fail_capnp(concat("message ends prematurely in ", where));
  }
}

}  // namespace

capnp::ReaderOptions bounded_reader_options(std::uint64_t message_words) {
  auto options = capnp_reader_options();
  options.traversalLimitInWords =
      saturating_add(message_words * kWorkPerWord, kWorkSlackWords);  // 2^41 at most: no overflow
  return options;
}

ReceivedMessage::ReceivedMessage(WordBuffer storage, std::vector<kj::ArrayPtr<const capnp::word>> segments)
    : storage_(std::move(storage)), segments_(std::move(segments)) {
  std::uint64_t words = 0;
  for (const auto& segment : segments_) words += segment.size();
  reader_.emplace(kj::ArrayPtr<const kj::ArrayPtr<const capnp::word>>(segments_.data(), segments_.size()),
                  bounded_reader_options(words));
}

ReceivedMessage::~ReceivedMessage() = default;

std::unique_ptr<ReceivedMessage> ReceivedMessage::from_bytes(std::span<const std::uint8_t> input) {
  if (input.size() < kWordBytes) fail_capnp("message ends prematurely in segment table");
  const std::size_t count = segment_count(input.data());
  if (input.size() < table_bytes_for(count)) fail_capnp("message ends prematurely in segment table");
  const SegmentTable table = parse_table(input.data(), count);
  if (input.size() < table.message_bytes()) fail_capnp("message ends prematurely in segment data");

  const auto message_bytes = static_cast<std::size_t>(table.message_bytes());
  const std::uint8_t* message = input.data();
  WordBuffer storage;
  if (reinterpret_cast<std::uintptr_t>(message) % alignof(capnp::word) != 0) {
    // Words must be aligned: take one aligned copy of the message alone.
    storage = WordBuffer::allocated(message_bytes);
    std::memcpy(storage.bytes(), message, message_bytes);
    message = storage.bytes();
  }
  auto segments = carve_segments(table, reinterpret_cast<const capnp::word*>(message + table.table_bytes));
  return std::unique_ptr<ReceivedMessage>(new ReceivedMessage(std::move(storage), std::move(segments)));
}

std::unique_ptr<ReceivedMessage> ReceivedMessage::from_stream(kj::InputStream& input) {
  std::uint8_t first_word[kWordBytes];
  read_exactly(input, first_word, sizeof first_word, "segment table");
  const std::size_t count = segment_count(first_word);
  std::vector<std::uint8_t> table_bytes(static_cast<std::size_t>(table_bytes_for(count)));
  std::memcpy(table_bytes.data(), first_word, sizeof first_word);
  read_exactly(input, table_bytes.data() + kWordBytes, table_bytes.size() - kWordBytes, "segment table");
  const SegmentTable table = parse_table(table_bytes.data(), count);

  const std::uint64_t body_bytes = table.body_words * kWordBytes;
  if (body_bytes > std::numeric_limits<std::size_t>::max()) fail_capnp("message is too large");
  const auto total = static_cast<std::size_t>(body_bytes);
  WordBuffer storage = body_buffer(total);
  std::size_t filled = 0;
  while (filled < total) {
    if (filled == storage.capacity()) {
      storage.grow(total - filled < filled ? total : filled * 2);
    }
    read_exactly(input, storage.bytes() + filled, storage.capacity() - filled, "segment data");
    filled = storage.capacity();
  }
  auto segments = carve_segments(table, storage.words());
  return std::unique_ptr<ReceivedMessage>(new ReceivedMessage(std::move(storage), std::move(segments)));
}

unsigned int list_size(std::size_t count) {
  constexpr std::size_t kMaxListElements = (std::size_t{1} << capnp::LIST_ELEMENT_COUNT_BITS) - 1;
  if (count > kMaxListElements) {
    fail_capnp(concat("a list of ", count, " elements exceeds the ", kMaxListElements,
                      " elements a message list can hold"));
  }
  return static_cast<unsigned int>(count);
}

void write_message(capnp::MessageBuilder& message, kj::OutputStream& output) {
  capnp::writeMessage(output, message);
}

namespace {

// Appends what is written to a vector whose capacity is already reserved, so
// every byte is copied exactly once, straight into its final place.
class AppendingStream final : public kj::OutputStream {
 public:
  explicit AppendingStream(std::vector<std::uint8_t>& output) : output_(output) {}
  void write(const void* buffer, size_t size) override {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    output_.insert(output_.end(), bytes, bytes + size);
  }

 private:
  std::vector<std::uint8_t>& output_;
};

}  // namespace

void append_message(capnp::MessageBuilder& message, std::vector<std::uint8_t>& output) {
  const auto segments = message.getSegmentsForOutput();
  const std::size_t bytes = capnp::computeSerializedSizeInWords(segments) * kWordBytes;
  const std::size_t old_size = output.size();
  if (bytes > output.max_size() - old_size) throw std::bad_alloc();
  output.reserve(old_size + bytes);
  AppendingStream stream(output);
  capnp::writeMessage(stream, segments);  // cannot fail: the capacity is there
}

}  // namespace detail
}  // namespace morvex_package
