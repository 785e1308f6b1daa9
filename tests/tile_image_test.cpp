#include <vector>

#include <doctest/doctest.h>

#include "fixtures.hpp"
#include "support.hpp"

namespace morvex_package {
namespace {

using testing::invalid;
using testing::ok;
using Bytes = std::vector<std::uint8_t>;

Segment segment(std::uint32_t address, std::uint32_t memory_size, Bytes data = {}) {
  return Segment{.address = address, .memory_size = memory_size, .data = std::move(data)};
}

Application with_segments(std::vector<Segment> segments) {
  Application app = tests::sample();
  app.tiles[0].segments = std::move(segments);
  return app;
}

TEST_CASE("the reference tile rebuilds to its eight bytes") {
  CHECK(ok(tests::sample().tile_image(0)) == Bytes{1, 2, 3, 4, 0, 0, 0, 0});
}

TEST_CASE("data is placed at its offset from the load base and everything else is zero") {
  CHECK(ok(with_segments({segment(0x4C000, 16, {9, 8, 7, 6})}).tile_image(0)) ==
        Bytes{9, 8, 7, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});

  // A gap between segments is zero, whatever the order of the list.
  Bytes expected(0x210, 0);
  expected[0] = 0x11;
  expected[0x200] = 0x22;
  const Segment low = segment(0x4C000, 0x100, {0x11});
  const Segment high = segment(0x4C200, 0x10, {0x22});
  CHECK(ok(with_segments({low, high}).tile_image(0)) == expected);
  CHECK(ok(with_segments({high, low}).tile_image(0)) == expected);
}

TEST_CASE("empty segments count for the load base") {
  CHECK(ok(with_segments({segment(0x50000, 0)}).tile_image(0)).empty());
  CHECK(ok(with_segments({segment(0x4C010, 2, {5, 6}), segment(0x4C000, 0)}).tile_image(0)) ==
        Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 6});
}

TEST_CASE("where segments share bytes the later one wins") {
  CHECK(ok(with_segments({segment(0x4C000, 4, {1, 1, 1, 1}), segment(0x4C002, 2, {2, 2})}).tile_image(0)) ==
        Bytes{1, 1, 2, 2});
}

TEST_CASE("the first tile with the id is used") {
  Application app = tests::sample();
  app.tiles.push_back(TileImage{.physical_tile = 0, .segments = {segment(0x4C000, 1, {0xEE})}});
  CHECK(ok(app.tile_image(0)).size() == 8);
}

TEST_CASE("tile image failures") {
  CHECK(tests::sample().tile_image(4).error() == invalid("unknown tile 4"));
  CHECK(with_segments({}).tile_image(0).error() == invalid("tile has no loadable segments"));
  // Tiles that break the segment rules are refused rather than written past.
  CHECK(with_segments({segment(0x4C000, 2, {1, 2, 3})}).tile_image(0).error() ==
        invalid("segment data exceeds memory size on tile 0: address=0x4c000 memory_size=2 data_size=3"));
  CHECK(with_segments({segment(0, 4), segment(0xFFFFFFF0, 0x20)}).tile_image(0).error() ==
        invalid("tile image size overflow on tile 0"));
}

TEST_CASE("an extent at the top of the address space is not an overflow") {
  const auto image = ok(with_segments({segment(0xFFFFFFF0, 0x10, {7})}).tile_image(0));
  CHECK(image.size() == 0x10);
  CHECK(image[0] == 7);
}

TEST_CASE("rebuilding emits a trace event only when it is wanted") {
  {
    testing::EventLog log;
    ok(with_segments({segment(0x4C010, 2), segment(0x4C000, 0)}).tile_image(0));
    REQUIRE(log.events.size() == 1);
    const auto& event = log.events[0];
    CHECK(event.level == diagnostics::Level::Trace);
    CHECK(event.message == "reconstructing tile image");
    REQUIRE(event.fields.size() == 3);
    CHECK(event.fields[0].first == "physical_tile");
    CHECK(std::get<std::uint64_t>(event.fields[0].second) == 0);
    CHECK(event.fields[1].first == "load_base");
    CHECK(std::get<std::string>(event.fields[1].second) == "0x4c000");
    CHECK(event.fields[2].first == "image_bytes");
    CHECK(std::get<std::uint64_t>(event.fields[2].second) == 0x12);
  }
  {
    testing::EventLog log(diagnostics::Level::Debug);
    ok(tests::sample().tile_image(0));
    CHECK(log.events.empty());
  }
  {
    testing::EventLog log;
    CHECK_FALSE(tests::sample().tile_image(3).has_value());
    CHECK(log.events.empty());
  }
}

}  // namespace
}  // namespace morvex_package
