#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <capnp/any.h>
#include <doctest/doctest.h>

#include "application.capnp.h"
#include "fixtures.hpp"
#include "support.hpp"

namespace morvex_package {
namespace {

using testing::any;
using testing::invalid;
using testing::ok;
using testing::stored;
using Root = wire::Application::Builder;

capnp::Text::Reader raw_text(const char* bytes) { return capnp::Text::Reader(bytes, std::strlen(bytes)); }

PackageError utf8(std::size_t valid_up_to, std::optional<std::size_t> error_len) {
  return PackageError::Utf8{valid_up_to, error_len};
}

bool is_capnp(const PackageError& error) { return error.get_if<PackageError::Capnp>() != nullptr; }

TEST_CASE("the populated package reads back equal, from a span and from a stream") {
  const Application app = tests::populated_sample();
  const auto bytes = stored(app);
  CHECK(ok(Application::read(bytes)) == app);
  kj::ArrayInputStream stream(kj::arrayPtr(bytes.data(), bytes.size()));
  CHECK(ok(Application::read(stream)) == app);
}

TEST_CASE("bytes after the message are never looked at") {
  const Application app = tests::sample();
  auto bytes = stored(app);
  const std::size_t message_size = bytes.size();
  bytes.insert(bytes.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0x01});
  CHECK(ok(Application::read(bytes)) == app);

  // The stream form leaves the stream just after the message.
  kj::ArrayInputStream stream(kj::arrayPtr(bytes.data(), bytes.size()));
  CHECK(ok(Application::read(stream)) == app);
  std::uint8_t rest[8];
  CHECK(stream.tryRead(rest, 1, sizeof rest) == bytes.size() - message_size);
  CHECK(rest[4] == 0x01);
}

TEST_CASE("two messages back to back read one after the other from a stream") {
  Application second = tests::populated_sample();
  second.compiler_version = "second";
  std::vector<std::uint8_t> bytes = stored(tests::sample());
  ok(second.write(bytes));
  kj::ArrayInputStream stream(kj::arrayPtr(bytes.data(), bytes.size()));
  CHECK(ok(Application::read(stream)) == tests::sample());
  CHECK(ok(Application::read(stream)) == second);
}

TEST_CASE("a span that is not word aligned reads the same") {
  const Application app = tests::populated_sample();
  const auto bytes = stored(app);
  std::vector<std::uint8_t> shifted(bytes.size() + 1);
  std::memcpy(shifted.data() + 1, bytes.data(), bytes.size());
  CHECK(ok(Application::read(std::span(shifted).subspan(1))) == app);
}

struct CraftCase {
  const char* name;
  std::function<void(Root)> mutate;
  std::optional<PackageError> expected;  // nothing: reads successfully
};

// Each case stores the populated package, changes its message at the wire
// level and reads it back.
TEST_CASE("damaged messages: the exact error of each") {
  const std::vector<CraftCase> cases = {
      {"schema version 4", [](Root r) { r.setSchemaVersion(4); }, invalid("incompatible package header")},
      {"schema version 6", [](Root r) { r.setSchemaVersion(6); }, invalid("incompatible package header")},
      {"other target", [](Root r) { r.setTarget("morvex22"); }, invalid("incompatible package header")},
      {"empty target", [](Root r) { r.setTarget(""); }, invalid("incompatible package header")},
      {"null target", [](Root r) { r.disownTarget(); }, invalid("incompatible package header")},
      {"memory base one more", [](Root r) { r.setTileMemoryBase(0x4C001); },
       invalid("incompatible package header")},
      {"memory base one less", [](Root r) { r.setTileMemoryBase(0x4BFFF); },
       invalid("incompatible package header")},
      {"memory size differs", [](Root r) { r.setTileMemorySize(0x9C001); },
       invalid("incompatible package header")},
      {"wrong version hides a bad target",
       [](Root r) {
         r.setSchemaVersion(4);
         r.setTarget(raw_text("\xff"));
       },
       invalid("incompatible package header")},
      {"target not UTF-8", [](Root r) { r.setTarget(raw_text("morv\xffx21")); }, utf8(4, 1)},
      {"bad target hides a wrong memory base",
       [](Root r) {
         r.setTarget(raw_text("\xe2\x82"));
         r.setTileMemoryBase(0);
       },
       utf8(0, std::nullopt)},
      {"compiler version ends inside a sequence",
       [](Root r) { r.setCompilerVersion(raw_text("0.\xe2\x82")); }, utf8(2, std::nullopt)},
      {"surrogate in a binding name", [](Root r) { r.initInputs(1)[0].setName(raw_text("ab\xed\xa0\x80")); },
       utf8(2, 1)},
      {"metadata value not UTF-8",
       [](Root r) { r.getProfileTiles()[0].getSteps()[0].getMetadata()[0].setValue(raw_text("\xc0\xaf")); },
       utf8(0, 1)},
      {"host call name not UTF-8",
       [](Root r) { r.getHostExchange().getCalls()[0].setName(raw_text("ok\xf4\x90")); }, utf8(2, 1)},
      {"step kind 4",
       [](Root r) { r.getProfileTiles()[0].getSteps()[0].setKind(static_cast<wire::StepKind>(4)); },
       PackageError::SchemaEnum{4}},
      {"exchange activity kind 3",
       [](Root r) {
         r.getProfileTiles()[0].getSteps()[0].getExchangeActivities()[1].setKind(
             static_cast<wire::ExchangeActivityKind>(3));
       },
       PackageError::SchemaEnum{3}},
      {"text fails before a later enum",
       [](Root r) {
         auto step = r.getProfileTiles()[0].getSteps()[0];
         step.setKind(static_cast<wire::StepKind>(9));
         step.setOperation(raw_text("\x80"));
       },
       utf8(0, 1)},
      {"no tiles", [](Root r) { r.initTiles(0); }, invalid("application has no tiles")},
      {"null tiles", [](Root r) { r.disownTiles(); }, invalid("application has no tiles")},
      {"breaks a rule after decoding", [](Root r) { r.getDeviceConfigWrites()[0].setOffset(2); },
       invalid("unaligned or duplicate device configuration write")},
      // Tiles are checked as they are decoded; that must change no result.
      {"a tile fault does not hide a later decoding error",
       [](Root r) {
         r.getTiles()[0].getSegments()[0].setAddress(0);
         r.getDebugSymbols()[0].setName(raw_text("\xff"));
       },
       utf8(0, 1)},
      {"an earlier rule is reported before a tile fault",
       [](Root r) {
         r.getTiles()[0].getSegments()[0].setAddress(0);
         r.getDeviceConfigWrites()[0].setOffset(2);
       },
       invalid("unaligned or duplicate device configuration write")},
      {"host call stored with zero invocations",
       [](Root r) { r.getHostExchange().getCalls()[0].setInvocations(0); },
       invalid("host call batched has no invocations")},
  };
  const auto bytes = stored(tests::populated_sample());
  for (const auto& c : cases) {
    CAPTURE(c.name);
    const auto result = Application::read(testing::rewrite<wire::Application>(bytes, c.mutate));
    REQUIRE_FALSE(result.has_value());
    CHECK(result.error() == *c.expected);
  }
}

TEST_CASE("pointers of the wrong kind are message errors") {
  const auto bytes = stored(tests::populated_sample());
  const std::vector<std::pair<const char*, std::function<void(Root)>>> cases = {
      {"tiles as a struct", [](Root r) { any(r).getPointerSection()[2].initAsAnyStruct(1, 0); }},
      {"target as a list", [](Root r) { any(r).getPointerSection()[1].initAsListOfAnyStruct(1, 0, 2); }},
      {"host exchange as a list",
       [](Root r) {
         any(r).getPointerSection()[6].setAs<capnp::List<std::uint32_t>>({1, 2});
       }},
      {"segment data as a struct",
       [](Root r) { any(r.getTiles()[0].getSegments()[0]).getPointerSection()[0].initAsAnyStruct(1, 0); }},
      {"batch ends as structs",
       [](Root r) {
         any(r.getHostExchange().getCalls()[0]).getPointerSection()[3].initAsListOfAnyStruct(0, 1, 1);
       }},
  };
  for (const auto& c : cases) {
    CAPTURE(std::string(c.first));
    const auto result = Application::read(testing::rewrite<wire::Application>(bytes, c.second));
    REQUIRE_FALSE(result.has_value());
    CHECK_MESSAGE(is_capnp(result.error()), testing::printed(result.error()));
  }
}

TEST_CASE("unset fields read as their defaults") {
  SUBCASE("a null compiler version reads as empty text") {
    const auto bytes = testing::rewrite<wire::Application>(stored(tests::populated_sample()),
                                                           [](Root r) { r.disownCompilerVersion(); });
    Application expected = tests::populated_sample();
    expected.compiler_version.clear();
    CHECK(ok(Application::read(bytes)) == expected);
  }
  SUBCASE("a null host exchange reads as the default one") {
    const auto bytes =
        testing::rewrite<wire::Application>(stored(tests::sample()), [](Root r) { r.disownHostExchange(); });
    CHECK(ok(Application::read(bytes)).host_exchange == HostExchange{});
  }
  SUBCASE("a host call with a one-word data section has one invocation") {
    const auto bytes = testing::rewrite<wire::Application>(stored(tests::populated_sample()), [](Root r) {
      capnp::MallocMessageBuilder scratch;  // the list below replaces the original call
      scratch.setRoot(r.getHostExchange().getCalls()[0].asReader());
      const auto original = scratch.getRoot<wire::HostCall>().asReader();
      auto calls = any(r.getHostExchange()).getPointerSection()[2].initAsListOfAnyStruct(1, 5, 1);
      auto call = calls[0];
      std::uint32_t words[2] = {original.getCommand(), original.getPhases()};
      std::memcpy(call.getDataSection().begin(), words, sizeof words);
      auto pointers = call.getPointerSection();
      pointers[0].setAs<capnp::Text>(original.getName());
      pointers[1].setAs<capnp::List<wire::HostSlice>>(original.getInputs());
      pointers[2].setAs<capnp::List<wire::HostSlice>>(original.getOutputs());
      pointers[3].setAs<capnp::List<std::uint32_t>>(original.getInputBatchEnds());
      pointers[4].setAs<capnp::List<std::uint32_t>>(original.getOutputBatchEnds());
    });
    CHECK(ok(Application::read(bytes)) == tests::populated_sample());
  }
}

TEST_CASE("input that is not a whole message is a message error") {
  const auto bytes = stored(tests::populated_sample());
  std::vector<std::vector<std::uint8_t>> inputs = {
      {},
      {0, 0, 0},
      std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 8),
      std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 8),
      {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0},  // 2^32 segments
      {0x00, 0x02, 0x00, 0x00, 1, 0, 0, 0},  // 513 segments
      {0, 0, 0, 0, 0, 0, 0, 0},              // one empty segment: no root
  };
  for (const auto& input : inputs) {
    CAPTURE(input.size());
    const auto from_span = Application::read(input);
    REQUIRE_FALSE(from_span.has_value());
    CHECK(is_capnp(from_span.error()));
    kj::ArrayInputStream stream(kj::arrayPtr(input.data(), input.size()));
    const auto from_stream = Application::read(stream);
    REQUIRE_FALSE(from_stream.has_value());
    CHECK(from_stream.error() == from_span.error());
  }
}

// A stream that hands out at most a few bytes per call, as pipes do.
class TricklingStream : public kj::InputStream {
 public:
  explicit TricklingStream(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  size_t tryRead(void* buffer, size_t min_bytes, size_t max_bytes) override {
    size_t total = 0;
    while (total < min_bytes && position_ < bytes_.size()) {
      const size_t n = std::min({max_bytes - total, size_t{3}, bytes_.size() - position_});
      std::memcpy(static_cast<std::uint8_t*>(buffer) + total, bytes_.data() + position_, n);
      position_ += n;
      total += n;
    }
    return total;
  }

 private:
  const std::vector<std::uint8_t>& bytes_;
  size_t position_ = 0;
};

TEST_CASE("a stream that delivers in small pieces reads the same") {
  const auto bytes = stored(tests::populated_sample());
  TricklingStream stream(bytes);
  CHECK(ok(Application::read(stream)) == tests::populated_sample());
}

TEST_CASE("a read emits its two events, or only the first on failure") {
  const auto bytes = stored(tests::populated_sample());
  {
    testing::EventLog log;
    ok(Application::read(bytes));
    REQUIRE(log.events.size() == 2);
    CHECK(log.events[0].message == "reading application package");
    CHECK(log.events[0].fields.empty());
    CHECK(log.events[1].message == "application package read");
    CHECK(log.events[1].level == diagnostics::Level::Info);
    REQUIRE(log.events[1].fields.size() == 2);
    CHECK(log.events[1].fields[0].first == "tiles");
    CHECK(std::get<std::uint64_t>(log.events[1].fields[0].second) == 1);
    CHECK(log.events[1].fields[1].first == "compiler");
    CHECK(std::get<std::string>(log.events[1].fields[1].second) == "0.1.0");
  }
  {
    testing::EventLog log;
    CHECK_FALSE(Application::read(std::span(bytes).first(12)).has_value());
    CHECK(log.messages() == std::vector<std::string>{"reading application package"});
  }
  {
    testing::EventLog log(diagnostics::Level::Warn);
    ok(Application::read(bytes));
    CHECK(log.events.empty());
  }
}

}  // namespace
}  // namespace morvex_package
