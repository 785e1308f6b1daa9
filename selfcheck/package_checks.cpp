#include <vector>

#include <doctest/doctest.h>

#include <morvex_package/morvex_package.hpp>

#include "checks.hpp"
#include "expect.hpp"
#include "fixtures.hpp"

namespace morvex_package::tests {

void round_trip_and_reconstruct() {
  const Application written = populated_sample();
  std::vector<std::uint8_t> bytes;
  expect_ok(written.write(bytes));
  const Application read = expect_ok(Application::read(bytes));
  REQUIRE(read == written);
  const auto image = expect_ok(read.tile_image(0));
  REQUIRE(image.size() >= 8);
  REQUIRE(std::vector<std::uint8_t>(image.begin(), image.begin() + 8) ==
          std::vector<std::uint8_t>{0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00});
}

void rejects_overlapping_segments() {
  Application app = sample();
  auto& segments = app.tiles.front().segments;
  segments.push_back(segments.front());
  REQUIRE_FALSE(app.validate().has_value());
}

void rejects_ambiguous_device_configuration() {
  Application app = sample();
  app.device_config_writes = {{.offset = 4, .value = 1}, {.offset = 4, .value = 2}};
  REQUIRE_FALSE(app.validate().has_value());
}

// An empty list of batch ends never stands for one implicit batch.
void rejects_implicit_host_batches() {
  const HostCall call{.name = "explicit-batches", .command = 0, .phases = 0, .invocations = 1};
  REQUIRE_FALSE(validate_host_batch_ends(call, "input", {}, 1).has_value());
  REQUIRE_FALSE(validate_host_batch_ends(call, "output", {}, 1).has_value());
  expect_ok(validate_host_batch_ends(call, "input", {}, 0));
}

}  // namespace morvex_package::tests
