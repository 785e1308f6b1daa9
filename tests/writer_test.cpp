#include <cstring>
#include <string>
#include <vector>

#include <capnp/any.h>
#include <capnp/serialize.h>
#include <doctest/doctest.h>

#include "application.capnp.h"
#include "failure.hpp"
#include "fixtures.hpp"
#include "message_io.hpp"
#include "support.hpp"

namespace morvex_package {
namespace {

using testing::ok;
using testing::stored;

std::uint32_t u32_at(kj::ArrayPtr<const capnp::byte> bytes, std::size_t offset) {
  std::uint32_t value;
  std::memcpy(&value, bytes.begin() + offset, sizeof value);
  return value;
}

// The populated package with every list filled, bindings and entry points
// included, so that every struct kind is written.
Application every_record() {
  Application app = tests::populated_sample();
  app.inputs = {Binding{.name = "in",
                        .dtype = "f32",
                        .shape = {2, 2},
                        .slices = {{.tile = 0, .tile_address = 0x4C000, .file_offset = 0, .size = 16}}}};
  app.entry_points = {EntryPoint{.name = "main", .command = 1, .external_syncs = 2}};
  return app;
}

// Reads a stored message with the stock reader, for looking at its bytes.
struct StoredMessage {
  explicit StoredMessage(const std::vector<std::uint8_t>& bytes)
      : words(testing::aligned_words(bytes)), reader(words, capnp_reader_options()) {}
  wire::Application::Reader root() { return reader.getRoot<wire::Application>(); }

  kj::Array<capnp::word> words;
  capnp::FlatArrayMessageReader reader;
};

template <class List>
void check_element_size(List list, unsigned data_words, unsigned pointers) {
  const capnp::List<capnp::AnyStruct>::Reader elements =
      capnp::AnyList::Reader(list).as<capnp::List<capnp::AnyStruct>>();
  REQUIRE(elements.size() > 0);
  CHECK(elements[0].getDataSection().size() == data_words * 8);
  CHECK(elements[0].getPointerSection().size() == pointers);
}

TEST_CASE("the header is stored at its fixed positions") {
  const auto bytes = stored(tests::sample());
  CHECK(u32_at(kj::arrayPtr(bytes.data(), bytes.size()), 0) == 0);  // one segment
  StoredMessage message(bytes);
  const capnp::AnyStruct::Reader root = message.root();
  const auto data = root.getDataSection();
  REQUIRE(data.size() == 16);
  CHECK(u32_at(data, 0) == 5);
  CHECK(u32_at(data, 4) == 0x4C000);
  CHECK(u32_at(data, 8) == 0x9C000);
  CHECK(u32_at(data, 12) == 0);
  CHECK(std::string(message.root().getTarget().cStr()) == "morvex21");
  CHECK(std::string(message.root().getCompilerVersion().cStr()) == "0.1.0");
}

TEST_CASE("every text is set and every list created, even when empty") {
  Application app = tests::sample();
  app.compiler_version.clear();
  StoredMessage message(stored(app));
  const capnp::AnyStruct::Reader root = message.root();
  for (const auto pointer : root.getPointerSection()) CHECK_FALSE(pointer.isNull());
  CHECK(message.root().getTiles().size() == 1);
  CHECK(message.root().getInputs().size() == 0);
  const capnp::AnyStruct::Reader exchange = message.root().getHostExchange();
  for (const auto pointer : exchange.getPointerSection()) CHECK_FALSE(pointer.isNull());

  Application blank_texts = tests::sample();
  blank_texts.profile_tiles = {TileProfilePlan{.physical_tile = 0, .steps = {ProfileStep{}}}};
  StoredMessage with_step(stored(blank_texts));
  const capnp::AnyStruct::Reader step = with_step.root().getProfileTiles()[0].getSteps()[0];
  for (const auto pointer : step.getPointerSection()) CHECK_FALSE(pointer.isNull());
}

TEST_CASE("struct list elements carry the sizes of their structs") {
  StoredMessage message(stored(every_record()));
  const auto root = message.root();
  const auto call = root.getHostExchange().getCalls()[0];
  const auto step = root.getProfileTiles()[0].getSteps()[0];
  check_element_size(root.getTiles(), 2, 1);
  check_element_size(root.getTiles()[0].getSegments(), 2, 1);
  check_element_size(root.getInputs(), 0, 4);
  check_element_size(root.getInputs()[0].getSlices(), 3, 0);
  check_element_size(root.getHostExchange().getPages(), 2, 0);
  check_element_size(root.getHostExchange().getCalls(), 2, 5);
  check_element_size(call.getInputs(), 4, 0);
  check_element_size(root.getEntryPoints(), 1, 1);
  check_element_size(root.getDeviceConfigWrites(), 1, 0);
  check_element_size(root.getProfileTiles(), 1, 1);
  check_element_size(root.getProfileTiles()[0].getSteps(), 3, 4);
  check_element_size(step.getMetadata(), 0, 2);
  check_element_size(step.getExchangeActivities(), 2, 0);
  check_element_size(root.getDebugSymbols(), 1, 1);
  check_element_size(root.getDebugRegions(), 2, 1);
}

TEST_CASE("invocations are stored XOR their default of 1") {
  for (const auto& [invocations, stored_bits] : {std::pair{1u, 0u}, std::pair{3u, 2u}}) {
    Application app = tests::populated_sample();
    app.host_exchange.calls[0].invocations = invocations;
    StoredMessage message(stored(app));
    const capnp::AnyStruct::Reader call = message.root().getHostExchange().getCalls()[0];
    CHECK(u32_at(call.getDataSection(), 8) == stored_bits);
  }
}

TEST_CASE("values are stored unchanged: top bits, activity order") {
  StoredMessage message(stored(tests::populated_sample()));
  CHECK(message.root().getDeviceConfigWrites()[0].getValue() == 0xC000000D);
  const auto activities = message.root().getProfileTiles()[0].getSteps()[0].getExchangeActivities();
  CHECK(activities[0].getStartCycle() == 3);
  CHECK(activities[1].getStartCycle() == 1);
  CHECK(message.root().getDebugRegions()[0].getPhysicalTile() == 0xFFFFFFFF);
}

// Where an object starts in the message. Only lists without pointers have
// raw bytes; objects with pointers are located through their first text.
const capnp::byte* start_of(capnp::AnyList::Reader list) { return list.getRawBytes().begin(); }
const capnp::byte* start_of(capnp::Text::Reader text) {
  return reinterpret_cast<const capnp::byte*>(text.begin());
}
const capnp::byte* start_of(capnp::Data::Reader data) { return data.begin(); }

TEST_CASE("fields are created in the stored order") {
  StoredMessage message(stored(every_record()));
  const auto call = message.root().getHostExchange().getCalls()[0];
  // A host call's batch ends come before its slices.
  CHECK(start_of(call.getName()) < start_of(call.getInputBatchEnds()));
  CHECK(start_of(call.getInputBatchEnds()) < start_of(call.getOutputBatchEnds()));
  CHECK(start_of(call.getOutputBatchEnds()) < start_of(call.getInputs()));
  CHECK(start_of(call.getInputs()) < start_of(call.getOutputs()));
  const auto step = message.root().getProfileTiles()[0].getSteps()[0];
  CHECK(start_of(step.getOperation()) < start_of(step.getKernel()));
  CHECK(start_of(step.getKernel()) < start_of(step.getMetadata()[0].getName()));
  CHECK(start_of(step.getMetadata()[0].getName()) < start_of(step.getMetadata()[0].getValue()));
  CHECK(start_of(step.getMetadata()[0].getValue()) < start_of(step.getExchangeActivities()));
  const auto root = message.root();
  CHECK(start_of(root.getCompilerVersion()) < start_of(root.getTarget()));
  CHECK(start_of(root.getTarget()) < start_of(root.getTiles()[0].getSegments()[0].getData()));
  CHECK(start_of(root.getTiles()[0].getSegments()[0].getData()) < start_of(root.getInputs()[0].getName()));
  CHECK(start_of(root.getInputs()[0].getName()) < start_of(root.getHostExchange().getCalls()[0].getName()));
  CHECK(start_of(call.getOutputs()) < start_of(root.getEntryPoints()[0].getName()));
  CHECK(start_of(root.getEntryPoints()[0].getName()) < start_of(root.getDeviceConfigWrites()));
  CHECK(start_of(root.getDeviceConfigWrites()) < start_of(step.getOperation()));
  CHECK(start_of(step.getExchangeActivities()) < start_of(root.getDebugSymbols()[0].getName()));
  CHECK(start_of(root.getDebugSymbols()[0].getName()) < start_of(root.getDebugRegions()[0].getName()));
}

TEST_CASE("writing is deterministic, and appends") {
  const Application app = every_record();
  const auto first = stored(app);
  CHECK(stored(app) == first);

  std::vector<std::uint8_t> appended = {0xAA, 0xBB};
  ok(app.write(appended));
  REQUIRE(appended.size() == first.size() + 2);
  CHECK(std::equal(first.begin(), first.end(), appended.begin() + 2));

  kj::VectorOutputStream stream;
  ok(app.write(stream));
  const auto streamed = stream.getArray();
  CHECK(std::vector<std::uint8_t>(streamed.begin(), streamed.end()) == first);
}

TEST_CASE("a large package spans several segments and reads back equal") {
  Application app = tests::sample();
  app.tiles[0].segments = {
      Segment{.address = 0x4C000, .memory_size = 0x20000, .data = std::vector<std::uint8_t>(0x20000, 0x5A)}};
  const auto bytes = stored(app);
  CHECK(u32_at(kj::arrayPtr(bytes.data(), bytes.size()), 0) > 0);
  CHECK(ok(Application::read(bytes)) == app);
}

TEST_CASE("an invalid package writes nothing and emits nothing") {
  testing::EventLog log;
  std::vector<std::uint8_t> bytes;
  const auto result = Application{}.write(bytes);
  REQUIRE_FALSE(result.has_value());
  CHECK(result.error() == testing::invalid("application has no tiles"));
  CHECK(bytes.empty());
  CHECK(log.events.empty());
}

TEST_CASE("a write emits two events around the message") {
  testing::EventLog log;
  Application app = tests::sample();
  app.tiles.push_back(TileImage{.physical_tile = 1});
  stored(app);
  REQUIRE(log.events.size() == 2);
  CHECK(log.events[0].level == diagnostics::Level::Info);
  CHECK(log.events[0].target == "morvex_package");
  CHECK(log.events[0].message == "writing application package");
  REQUIRE(log.events[0].fields.size() == 1);
  CHECK(log.events[0].fields[0].first == "tiles");
  CHECK(std::get<std::uint64_t>(log.events[0].fields[0].second) == 2);
  CHECK(log.events[1].message == "application package written");
  CHECK(log.events[1].fields.empty());
}

// A stream that takes `capacity` bytes and then fails.
class FailingStream : public kj::OutputStream {
 public:
  explicit FailingStream(std::size_t capacity) : capacity_(capacity) {}
  void write(const void*, size_t size) override {
    if (size > capacity_) KJ_FAIL_REQUIRE("disk full");
    capacity_ -= size;
  }

 private:
  std::size_t capacity_;
};

TEST_CASE("a failing output stream is reported as a message error after the first event") {
  testing::EventLog log;
  FailingStream stream(4);
  const auto result = tests::sample().write(stream);
  REQUIRE_FALSE(result.has_value());
  REQUIRE(result.error().get_if<PackageError::Capnp>() != nullptr);
  CHECK(result.error().get_if<PackageError::Capnp>()->description.find("disk full") != std::string::npos);
  CHECK(log.messages() == std::vector<std::string>{"writing application package"});
}

TEST_CASE("a list too long for a message fails cleanly instead of being truncated") {
  constexpr std::size_t kLimit = (std::size_t{1} << 29) - 1;
  CHECK(detail::list_size(0) == 0);
  CHECK(detail::list_size(kLimit) == kLimit);
  for (const std::size_t count : {kLimit + 1, (std::size_t{1} << 32) + 3}) {
    const auto result = detail::guarded([&]() -> Result<unsigned int> { return detail::list_size(count); });
    REQUIRE_FALSE(result.has_value());
    REQUIRE(result.error().get_if<PackageError::Capnp>() != nullptr);
    CHECK(result.error().get_if<PackageError::Capnp>()->description ==
          "a list of " + std::to_string(count) +
              " elements exceeds the 536870911 elements a message list can hold");
  }
}

}  // namespace
}  // namespace morvex_package
