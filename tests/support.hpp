#pragma once

// Helpers shared by the unit tests: recording diagnostic events, and
// rewriting stored messages at the wire level to craft damaged input.

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <capnp/any.h>
#include <capnp/message.h>
#include <capnp/serialize.h>
#include <doctest/doctest.h>

#include <morvex_package/morvex_package.hpp>

namespace morvex_package::testing {

template <class T>
std::string printed(const T& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

// The value of a result that must have succeeded; otherwise the test fails
// showing the error.
template <class T>
T ok(Result<T> result) {
  if (!result) FAIL("expected success, got " << result.error());
  if constexpr (!std::is_void_v<T>) return std::move(*result);
}

inline PackageError invalid(std::string message) { return PackageError::Invalid{std::move(message)}; }

// An event as recorded: views copied into owned values.
struct RecordedEvent {
  diagnostics::Level level;
  std::string target;
  std::string message;
  std::vector<std::pair<std::string, std::variant<std::uint64_t, std::string>>> fields;
};

// Installs a receiver that records every event while it lives.
class EventLog {
 public:
  explicit EventLog(diagnostics::Level lowest = diagnostics::Level::Trace) {
    diagnostics::set_receiver(
        [this](const diagnostics::Event& event) {
          RecordedEvent recorded{event.level, std::string(event.target), std::string(event.message), {}};
          for (const auto& field : event.fields) {
            if (const auto* number = std::get_if<std::uint64_t>(&field.value)) {
              recorded.fields.emplace_back(std::string(field.name), *number);
            } else {
              recorded.fields.emplace_back(std::string(field.name),
                                           std::string(std::get<std::string_view>(field.value)));
            }
          }
          events.push_back(std::move(recorded));
        },
        lowest);
  }
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;
  ~EventLog() { diagnostics::clear_receiver(); }

  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (const auto& event : events) out.push_back(event.message);
    return out;
  }

  std::vector<RecordedEvent> events;
};

// Word-aligned copy of a stored message, readable with the stock readers.
inline kj::Array<capnp::word> aligned_words(const std::vector<std::uint8_t>& bytes) {
  auto words = kj::heapArray<capnp::word>((bytes.size() + 7) / 8);
  std::memcpy(words.begin(), bytes.data(), bytes.size());
  return words;
}

// Stores `message` after `mutate` has changed its root of type Root,
// starting from the stored bytes `bytes`.
template <class Root, class Mutate>
std::vector<std::uint8_t> rewrite(const std::vector<std::uint8_t>& bytes, Mutate mutate) {
  auto words = aligned_words(bytes);
  capnp::FlatArrayMessageReader reader(words, capnp_reader_options());
  capnp::MallocMessageBuilder builder;
  builder.setRoot(reader.getRoot<Root>());
  mutate(builder.getRoot<Root>());
  const auto flat = capnp::messageToFlatArray(builder);
  const auto flat_bytes = flat.asBytes();
  return std::vector<std::uint8_t>(flat_bytes.begin(), flat_bytes.end());
}

// The untyped view of a struct, for writing what its schema would not allow.
template <class Builder>
capnp::AnyStruct::Builder any(Builder builder) {
  return capnp::AnyStruct::Builder(kj::mv(builder));
}

// The stored bytes of a package that must be writable.
inline std::vector<std::uint8_t> stored(const Application& app) {
  std::vector<std::uint8_t> bytes;
  ok(app.write(bytes));
  return bytes;
}

inline std::vector<std::uint8_t> stored(const ProfileReport& report) {
  std::vector<std::uint8_t> bytes;
  ok(report.write(bytes));
  return bytes;
}

}  // namespace morvex_package::testing
