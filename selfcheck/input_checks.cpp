#include "input_checks.hpp"

#include <algorithm>
#include <cstring>
#include <sstream>

#include <kj/io.h>

#include <morvex_package/morvex_package.hpp>

namespace morvex_package::tests {
namespace {

// Tiles whose images are rebuilt per input: each one may take most of a
// megabyte, and an input may list many.
constexpr std::size_t kImagedTiles = 4;
constexpr std::uint64_t kClockHz = 1'500'000'000;

std::uint32_t load_u32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

template <class T>
std::string describe(const Result<T>& result) {
  if (result) return "a value";
  std::ostringstream out;
  out << result.error();
  return out.str();
}

// Size of the message at the start of `input` according to its segment
// table, which a successful read has already checked.
std::size_t message_size(std::span<const std::uint8_t> input) {
  const std::size_t segments = std::size_t{load_u32(input, 0)} + 1;
  std::size_t bytes = (segments + 2) / 2 * 8;
  for (std::size_t i = 0; i < segments; ++i) bytes += std::size_t{load_u32(input, 4 + 4 * i)} * 8;
  return bytes;
}

// Any input may be refused, but never for lack of memory, and never with
// the I/O alternative, which no read produces.
template <class T>
Problem check_refusal(const Result<T>& result) {
  const PackageError& error = result.error();
  const auto* capnp = error.get_if<PackageError::Capnp>();
  if (error.get_if<PackageError::Io>() || (capnp && capnp->type == kj::Exception::Type::OVERLOADED)) {
    return "a read failed with " + describe(result);
  }
  return std::nullopt;
}

// Reads `input` from a span and from a stream; `read` receives the result
// when both agree.
template <class Record>
Problem check_reads(std::span<const std::uint8_t> input, Result<Record>& read) {
  auto from_span = Record::read(input);
  kj::ArrayInputStream stream(kj::arrayPtr(input.data(), input.size()));
  auto from_stream = Record::read(stream);
  if (from_span != from_stream) {
    return "span and stream reads differ: " + describe(from_span) + " and " + describe(from_stream);
  }
  if (from_span) {
    const std::size_t left = stream.tryGetReadBuffer().size();
    if (left != input.size() - message_size(input)) {
      return "the stream read left " + std::to_string(left) + " bytes of " + std::to_string(input.size());
    }
  }
  read = std::move(from_span);
  return std::nullopt;
}

// Writes `record` to a vector and to a stream, and reads the bytes back.
template <class Record>
Problem check_rewrite(const Record& record) {
  std::vector<std::uint8_t> bytes;
  if (auto written = record.write(bytes); !written)
    return "a value read back does not write: " + describe(written);
  kj::VectorOutputStream stream;
  if (auto written = record.write(stream); !written)
    return "a value read back does not write: " + describe(written);
  const auto streamed = stream.getArray();
  if (!std::equal(bytes.begin(), bytes.end(), streamed.begin(), streamed.end())) {
    return "the stream and vector writes differ";
  }
  const auto reread = Record::read(bytes);
  if (!reread) return "a value written again does not read: " + describe(reread);
  if (*reread != record) return "a value written again reads back different";
  return std::nullopt;
}

Problem check_tile_image(const TileImage& tile, const Result<std::vector<std::uint8_t>>& image) {
  if (tile.segments.empty()) {
    if (image || image.error() != PackageError::Invalid{"tile has no loadable segments"}) {
      return "a tile without segments gave " + describe(image);
    }
    return std::nullopt;
  }
  if (!image) return "a tile of a valid package has no image: " + describe(image);
  if (image->size() > TILE_MEMORY_SIZE) return "a tile image is larger than the tile memory";
  const std::uint32_t base =
      std::min_element(tile.segments.begin(), tile.segments.end(), [](const Segment& a, const Segment& b) {
        return a.address < b.address;
      })->address;
  for (const auto& segment : tile.segments) {
    const std::size_t at = segment.address - base;
    if (at + segment.memory_size > image->size() ||
        !std::equal(segment.data.begin(), segment.data.end(),
                    image->begin() + static_cast<std::ptrdiff_t>(at))) {
      return "a segment's data is not in place in its tile image";
    }
  }
  return std::nullopt;
}

Problem check_package(const Application& app) {
  if (auto valid = app.validate(); !valid) return "a package read back fails validation: " + describe(valid);
  for (std::size_t t = 0; t < std::min(app.tiles.size(), kImagedTiles); ++t) {
    const TileImage& tile = app.tiles[t];
    if (auto problem = check_tile_image(tile, app.tile_image(tile.physical_tile))) return problem;
  }
  return check_rewrite(app);
}

Problem check_decoded_profile(const Application& app, const ProfileReport& report) {
  if (report.clock_hz != kClockHz || report.tiles.size() != app.profile_tiles.size()) {
    return "a decoded profile does not have one tile per plan";
  }
  for (std::size_t t = 0; t < report.tiles.size(); ++t) {
    const auto& plan = app.profile_tiles[t];
    const auto& tile = report.tiles[t];
    if (tile.physical_tile != plan.physical_tile || tile.samples.size() != plan.steps.size()) {
      return "a decoded tile profile does not follow its plan";
    }
    for (std::size_t s = 0; s < tile.samples.size(); ++s) {
      if (tile.samples[s].step != plan.steps[s] ||
          (s > 0 && tile.samples[s].start_cycle != tile.samples[s - 1].end_cycle)) {
        return "a decoded sample does not follow its step or its predecessor";
      }
    }
  }
  return check_rewrite(report);
}

}  // namespace

Problem check_package_input(std::span<const std::uint8_t> input) {
  Result<Application> app = Application{};
  if (auto problem = check_reads(input, app)) return problem;
  return app ? check_package(*app) : check_refusal(app);
}

Problem check_report_input(std::span<const std::uint8_t> input) {
  Result<ProfileReport> report = ProfileReport{};
  if (auto problem = check_reads(input, report)) return problem;
  return report ? check_rewrite(*report) : check_refusal(report);
}

Problem check_profile_input(std::span<const std::uint8_t> input) {
  if (input.size() < 4) return std::nullopt;
  const std::size_t package_size = std::min<std::size_t>(load_u32(input, 0), input.size() - 4);
  const auto app = Application::read(input.subspan(4, package_size));
  if (!app) return check_refusal(app);
  if (auto problem = check_package(*app)) return problem;
  const auto report = app->profile_report(input.subspan(4 + package_size), kClockHz);
  if (!report) {
    if (report.error().get_if<PackageError::Invalid>() == nullptr) {
      return "profile decoding failed with " + describe(report);
    }
    return std::nullopt;
  }
  return check_decoded_profile(*app, *report);
}

std::vector<std::uint8_t> frame_profile_input(std::span<const std::uint8_t> package,
                                              std::span<const std::uint8_t> output) {
  std::vector<std::uint8_t> input(4 + package.size() + output.size());
  const auto size = static_cast<std::uint32_t>(package.size());
  for (int i = 0; i < 4; ++i) input[i] = static_cast<std::uint8_t>(size >> (8 * i));
  std::copy(package.begin(), package.end(), input.begin() + 4);
  std::copy(output.begin(), output.end(), input.begin() + 4 + static_cast<std::ptrdiff_t>(package.size()));
  return input;
}

}  // namespace morvex_package::tests
