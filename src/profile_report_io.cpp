// Storing and loading profile reports. Steps go through the same codec as
// a package's profile plans.

#include <capnp/message.h>

#include <morvex_package/application.hpp>
#include <morvex_package/profile_report.hpp>

#include "failure.hpp"
#include "message_io.hpp"
#include "profile.capnp.h"
#include "step_codec.hpp"
#include "text_format.hpp"
#include "wire_values.hpp"

namespace morvex_package {
namespace {

using detail::list_size;
using detail::read_list;

constexpr std::uint32_t kWrittenVersion = 5;
constexpr std::uint32_t kOldestReadableVersion = 1;

// Objects land depth first in record order: a tile, then its samples, each
// sample's cycles before its step.
void build_report(const ProfileReport& report, wire::Profile::Builder root) {
  root.setSchemaVersion(kWrittenVersion);
  root.setClockHz(report.clock_hz);
  auto tiles = root.initTiles(list_size(report.tiles.size()));
  for (unsigned int t = 0; t < tiles.size(); ++t) {
    const auto& tile = report.tiles[t];
    tiles[t].setPhysicalTile(tile.physical_tile);
    auto samples = tiles[t].initSamples(list_size(tile.samples.size()));
    for (unsigned int s = 0; s < samples.size(); ++s) {
      const auto& sample = tile.samples[s];
      samples[s].setStartCycle(sample.start_cycle);
      samples[s].setEndCycle(sample.end_cycle);
      detail::encode_step(sample.step, samples[s].initStep());
    }
  }
}

template <class Sink>
Result<void> write_report(const ProfileReport& report, Sink sink) {
  return detail::guarded([&]() -> Result<void> {
    capnp::MallocMessageBuilder message;  // first segment of 1024 words
    build_report(report, message.initRoot<wire::Profile>());
    sink(message);
    return {};
  });
}

constexpr auto read_tile_profile = [](wire::TileProfile::Reader in) {
  auto samples = read_list(in.getSamples(), [](wire::CycleSample::Reader sample) {
    return CycleSample{.step = detail::decode_step(sample.getStep()),
                       .start_cycle = sample.getStartCycle(),
                       .end_cycle = sample.getEndCycle()};
  });
  return TileProfile{.physical_tile = in.getPhysicalTile(), .samples = std::move(samples)};
};

Result<ProfileReport> decode_report(wire::Profile::Reader root) {
  const std::uint32_t version = root.getSchemaVersion();
  if (version < kOldestReadableVersion || version > kWrittenVersion) {
    return detail::invalid("unsupported profile schema version ", version);
  }
  auto tiles = read_list(root.getTiles(), read_tile_profile);
  return ProfileReport{.clock_hz = root.getClockHz(), .tiles = std::move(tiles)};
}

template <class Receive>
Result<ProfileReport> read_report(Receive receive) {
  return detail::guarded([&] {
    const auto message = receive();
    return decode_report(message->template root<wire::Profile>());
  });
}

}  // namespace

Result<void> ProfileReport::write(kj::OutputStream& output) const {
  return write_report(*this, [&](capnp::MessageBuilder& message) { detail::write_message(message, output); });
}

Result<void> ProfileReport::write(std::vector<std::uint8_t>& output) const {
  return write_report(*this,
                      [&](capnp::MessageBuilder& message) { detail::append_message(message, output); });
}

Result<ProfileReport> ProfileReport::read(kj::InputStream& input) {
  return read_report([&] { return detail::ReceivedMessage::from_stream(input); });
}

Result<ProfileReport> ProfileReport::read(std::span<const std::uint8_t> input) {
  return read_report([&] { return detail::ReceivedMessage::from_bytes(input); });
}

}  // namespace morvex_package
