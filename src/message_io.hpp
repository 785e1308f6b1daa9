#pragma once

// Moving whole messages between the library and its callers' streams and
// buffers, in the standard unpacked stream framing.
//
// Reading guards against hostile input in two ways, beside the reader
// options the library publishes:
//  - memory for a streamed message follows the bytes actually received,
//    not what its segment table claims (see body_buffer in the source);
//  - the work of decoding is bounded by the size of the message received:
//    a read may traverse at most kWorkPerWord words for each word of the
//    message plus kWorkSlackWords, so a few bytes that claim a huge list of
//    empty structs are refused instead of decoded.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include <capnp/message.h>
#include <kj/io.h>

#include "word_buffer.hpp"

namespace morvex_package::detail {

inline constexpr std::uint64_t kWorkPerWord = 2;
inline constexpr std::uint64_t kWorkSlackWords = 1024;
inline constexpr std::size_t kMaxSegments = 512;

// The reader options of a message of `message_words` words.
capnp::ReaderOptions bounded_reader_options(std::uint64_t message_words);

// One message read in full, ready to decode. Failures throw (see failure.hpp).
class ReceivedMessage {
 public:
  static std::unique_ptr<ReceivedMessage> from_stream(kj::InputStream& input);
  static std::unique_ptr<ReceivedMessage> from_bytes(std::span<const std::uint8_t> input);

  ReceivedMessage(const ReceivedMessage&) = delete;
  ReceivedMessage& operator=(const ReceivedMessage&) = delete;
  ~ReceivedMessage();

  template <class Root>
  typename Root::Reader root() {
    return reader_->getRoot<Root>();
  }

 private:
  ReceivedMessage(WordBuffer storage, std::vector<kj::ArrayPtr<const capnp::word>> segments);

  WordBuffer storage_;  // empty when the message is read in place
  std::vector<kj::ArrayPtr<const capnp::word>> segments_;
  std::optional<capnp::SegmentArrayMessageReader> reader_;
};

// Throws (see failure.hpp) when a list of `count` elements cannot be stored
// in a message, instead of letting the count be narrowed; otherwise returns
// it as the element count type of the generated initialisers.
unsigned int list_size(std::size_t count);

// Writes the builder's message to `output`.
void write_message(capnp::MessageBuilder& message, kj::OutputStream& output);
// Appends the builder's message to `output`; on failure `output` is unchanged.
void append_message(capnp::MessageBuilder& message, std::vector<std::uint8_t>& output);

}  // namespace morvex_package::detail
