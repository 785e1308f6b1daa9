#include <cstring>
#include <functional>
#include <vector>

#include <capnp/any.h>
#include <doctest/doctest.h>

#include "profile.capnp.h"
#include "support.hpp"

namespace morvex_package {
namespace {

using testing::invalid;
using testing::ok;
using testing::stored;
using Bytes = std::vector<std::uint8_t>;

ProfileReport sample_report() {
  return ProfileReport{
      .clock_hz = 1'500'000'000,
      .tiles = {TileProfile{.physical_tile = 17,
                            .samples = {CycleSample{.step = ProfileStep{.local_index = 0,
                                                                        .operation = "op",
                                                                        .kind = ProfileStepKind::Idle,
                                                                        .kernel = "k",
                                                                        .metadata = {{"a", "b"}}},
                                                    .start_cycle = 10,
                                                    .end_cycle = 3}}},
                TileProfile{.physical_tile = 17, .samples = {}}},
  };
}

TEST_CASE("a report reads back equal, from a span and from a stream") {
  for (const std::uint64_t clock : {std::uint64_t{0}, ~std::uint64_t{0}}) {
    ProfileReport report = sample_report();
    report.clock_hz = clock;
    const auto bytes = stored(report);
    CHECK(ok(ProfileReport::read(bytes)) == report);
    kj::ArrayInputStream stream(kj::arrayPtr(bytes.data(), bytes.size()));
    CHECK(ok(ProfileReport::read(stream)) == report);
  }
  CHECK(ok(ProfileReport::read(stored(ProfileReport{}))) == ProfileReport{});
}

TEST_CASE("a report without tiles is exactly 48 bytes") {
  const Bytes expected = {
      0,    0,    0,    0,    5,    0,    0,    0,     // one segment of five words
      0,    0,    0,    0,    2,    0,    1,    0,     // root: two data words, one pointer
      5,    0,    0,    0,    0,    0,    0,    0,     // version 5
      0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,  // clock rate
      1,    0,    0,    0,    7,    0,    0,    0,     // tiles: composite list of no words
      0,    0,    0,    0,    1,    0,    1,    0,     // tag: no elements of one word and one pointer
  };
  CHECK(stored(ProfileReport{.clock_hz = 0x1122334455667788, .tiles = {}}) == expected);
}

TEST_CASE("writing appends to what the buffer holds") {
  Bytes bytes = {1, 2, 3};
  ok(sample_report().write(bytes));
  CHECK(Bytes(bytes.begin(), bytes.begin() + 3) == Bytes{1, 2, 3});
  CHECK(ok(ProfileReport::read(std::span(bytes).subspan(3))) == sample_report());
}

TEST_CASE("report versions 1 to 5 are read, others refused") {
  const auto bytes = stored(sample_report());
  for (const std::uint32_t version : {1u, 3u, 5u}) {
    CAPTURE(version);
    const auto changed = testing::rewrite<wire::Profile>(
        bytes, [&](wire::Profile::Builder r) { r.setSchemaVersion(version); });
    CHECK(ok(ProfileReport::read(changed)) == sample_report());
  }
  for (const std::uint32_t version : {0u, 6u, 0xFFFFFFFFu}) {
    CAPTURE(version);
    const auto changed = testing::rewrite<wire::Profile>(
        bytes, [&](wire::Profile::Builder r) { r.setSchemaVersion(version); });
    CHECK(ProfileReport::read(changed).error() ==
          invalid("unsupported profile schema version " + std::to_string(version)));
  }
  // A null root reads as version 0.
  const Bytes null_root = {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  CHECK(ProfileReport::read(null_root).error() == invalid("unsupported profile schema version 0"));
}

TEST_CASE("short and null parts read as defaults") {
  // A root with a one-word data section: the clock rate reads as 0.
  const Bytes one_word = {
      0, 0, 0, 0, 3,    0,    0,    0,     // one segment of three words
      0, 0, 0, 0, 1,    0,    1,    0,     // root: one data word, one pointer
      5, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD,  // version 5; bytes 4-7 unused
      0, 0, 0, 0, 0,    0,    0,    0,     // no tiles
  };
  CHECK(ok(ProfileReport::read(one_word)) == ProfileReport{.clock_hz = 0, .tiles = {}});

  const auto null_step = testing::rewrite<wire::Profile>(
      stored(sample_report()),
      [](wire::Profile::Builder r) { r.getTiles()[0].getSamples()[0].disownStep(); });
  const auto report = ok(ProfileReport::read(null_step));
  CHECK(report.tiles[0].samples[0].step == ProfileStep{});
  CHECK(report.tiles[0].samples[0].step.kind == ProfileStepKind::Exchange);
  CHECK(report.tiles[0].samples[0].start_cycle == 10);
}

TEST_CASE("damaged reports: the exact error of each") {
  const auto bytes = stored(sample_report());
  const auto step_of = [](wire::Profile::Builder r) { return r.getTiles()[0].getSamples()[0].getStep(); };
  CHECK(ProfileReport::read(testing::rewrite<wire::Profile>(bytes, [&](wire::Profile::Builder r) {
          step_of(r).setKind(static_cast<wire::StepKind>(4));
        })).error() == PackageError::SchemaEnum{4});
  CHECK(ProfileReport::read(testing::rewrite<wire::Profile>(bytes, [&](wire::Profile::Builder r) {
          step_of(r).getMetadata()[0].setName(capnp::Text::Reader("\xe2\x28", 2));
        })).error() == PackageError::Utf8{0, 1});

  const auto truncated = ProfileReport::read(std::span(bytes).first(bytes.size() - 1));
  REQUIRE_FALSE(truncated.has_value());
  CHECK(truncated.error().get_if<PackageError::Capnp>() != nullptr);

  Bytes trailing = bytes;
  trailing.resize(bytes.size() + 9, 0xFF);
  CHECK(ok(ProfileReport::read(trailing)) == sample_report());
}

TEST_CASE("a report's step has the same wire form as a package's") {
  const auto bytes = stored(sample_report());
  auto words = testing::aligned_words(bytes);
  capnp::FlatArrayMessageReader reader(words);
  const capnp::AnyStruct::Reader step =
      reader.getRoot<wire::Profile>().getTiles()[0].getSamples()[0].getStep();
  CHECK(step.getDataSection().size() == 24);
  CHECK(step.getPointerSection().size() == 4);
  std::uint16_t kind;
  std::memcpy(&kind, step.getDataSection().begin() + 12, sizeof kind);
  CHECK(kind == 3);
}

}  // namespace
}  // namespace morvex_package
