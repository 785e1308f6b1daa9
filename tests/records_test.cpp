#include <doctest/doctest.h>

#include "fixtures.hpp"
#include "support.hpp"

namespace morvex_package {
namespace {

using testing::printed;

TEST_CASE("the default package and host exchange") {
  const Application app;
  CHECK(app.compiler_version == "0.1.0");
  CHECK(app.tiles.empty());
  CHECK(app.host_exchange == HostExchange{});
  CHECK(app == Application{});
  CHECK(HostCall{}.invocations == 1);
  CHECK(PACKAGE_SCHEMA_VERSION == 5);
  CHECK(PACKAGE_TARGET == "morvex21");
  CHECK(TILE_MEMORY_BASE + TILE_MEMORY_SIZE == 0xE8000);
}

TEST_CASE("records compare every field, lists in order") {
  const Application base = tests::populated_sample();

  Application reordered = base;
  reordered.host_exchange.pages = {base.host_exchange.pages[1], base.host_exchange.pages[0]};
  CHECK(reordered != base);

  Application different_flags = base;
  different_flags.tiles[0].segments[0].flags ^= 1;
  CHECK(different_flags != base);

  ProfileStep step = base.profile_tiles[0].steps[0];
  ProfileStep other = step;
  other.exchange_event_cycles += 1;
  CHECK(step != other);
  other = step;
  std::swap(other.exchange_activities[0], other.exchange_activities[1]);
  CHECK(step != other);

  HostCall call = base.host_exchange.calls[0];
  HostCall batched_differently = call;
  batched_differently.input_batch_ends = {1, 2};
  CHECK(call != batched_differently);
}

TEST_CASE("copies are deep") {
  const Application original = tests::populated_sample();
  Application copy = original;
  CHECK(copy == original);
  copy.tiles[0].segments[0].data[0] = 0xFF;
  copy.tiles.push_back(copy.tiles[0]);
  copy.profile_tiles[0].steps[0].metadata[0].value = "changed";
  CHECK(original.tiles.size() == 1);
  CHECK(original.tiles[0].segments[0].data[0] == 0x01);
  CHECK(original.profile_tiles[0].steps[0].metadata[0].value == "OperatorKernel");
}

TEST_CASE("diagnostic form of records and enums") {
  CHECK(printed(ProfileExchangeActivityKind::PartnerBusy) == "PartnerBusy");
  CHECK(printed(ProfileStepKind::Synchronization) == "Synchronization");
  CHECK(printed(Segment{.address = 0x4C000, .memory_size = 8, .data = {1, 2, 3, 4}, .flags = 5}) ==
        "Segment { address: 311296, memory_size: 8, data: [1, 2, 3, 4], flags: 5 }");
  CHECK(printed(ProfileMetadata{.name = "say \"hi\"", .value = "a\\b\n"}) ==
        R"(ProfileMetadata { name: "say \"hi\"", value: "a\\b\n" })");
  CHECK(printed(HostExchange{}) ==
        "HostExchange { startup_mark: 0, command_page: 0, command_offset: 0, pages: [], attach_order: [], "
        "calls: [] }");
  const auto app = printed(tests::populated_sample());
  CHECK(app.rfind("Application { compiler_version: \"0.1.0\", tiles: [TileImage { physical_tile: 0,", 0) ==
        0);
  CHECK(app.find("kind: PartnerBusy, start_cycle: 1, end_cycle: 3") != std::string::npos);
  CHECK(printed(ProfileReport{.clock_hz = 7}) == "ProfileReport { clock_hz: 7, tiles: [] }");
}

TEST_CASE("package errors: alternatives, equality, diagnostic form and display text") {
  const PackageError invalid = PackageError::Invalid{"incompatible package header"};
  CHECK(printed(invalid) == R"(Invalid("incompatible package header"))");
  CHECK(invalid.to_string() == "incompatible package header");
  REQUIRE(invalid.get_if<PackageError::Invalid>() != nullptr);
  CHECK(invalid.get_if<PackageError::Capnp>() == nullptr);
  CHECK(std::holds_alternative<PackageError::Invalid>(invalid.alternative()));
  CHECK(invalid == PackageError(PackageError::Invalid{"incompatible package header"}));
  CHECK(invalid != PackageError(PackageError::Invalid{"application has no tiles"}));

  const PackageError utf8 = PackageError::Utf8{3, 1};
  CHECK(printed(utf8) == "Utf8(valid_up_to: 3, error_len: 1)");
  CHECK(utf8.to_string() == "invalid utf-8 sequence of 1 bytes from index 3");
  const PackageError incomplete = PackageError::Utf8{5, std::nullopt};
  CHECK(printed(incomplete) == "Utf8(valid_up_to: 5, error_len: none)");
  CHECK(incomplete.to_string() == "incomplete utf-8 byte sequence from index 5");
  CHECK(utf8 != incomplete);

  const PackageError enum_error = PackageError::SchemaEnum{4};
  CHECK(printed(enum_error) == "SchemaEnum(4)");
  CHECK(enum_error.to_string() == "enum value 4 is not in the schema");

  const PackageError io = PackageError::Io{std::make_error_code(std::errc::no_such_file_or_directory)};
  CHECK(printed(io).rfind("Io(generic:2, ", 0) == 0);

  const kj::Exception exception(kj::Exception::Type::DISCONNECTED, "file.c++", 12, kj::str("stream closed"));
  const PackageError capnp = exception;
  REQUIRE(capnp.get_if<PackageError::Capnp>() != nullptr);
  CHECK(capnp.get_if<PackageError::Capnp>()->type == kj::Exception::Type::DISCONNECTED);
  CHECK(capnp.get_if<PackageError::Capnp>()->description == "stream closed");
  CHECK(printed(capnp) == R"(Capnp(Disconnected, "stream closed"))");
  CHECK(capnp.to_string() == "message error: stream closed");
}

}  // namespace
}  // namespace morvex_package
