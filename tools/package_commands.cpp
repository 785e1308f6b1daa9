// The commands that read or write whole files and hand the work to the
// library: validate, tile-image, profile, profile-trace and example.

#include <algorithm>
#include <ostream>

#include "commands.hpp"
#include "demo_package.hpp"
#include "fixtures.hpp"
#include "text_format.hpp"
#include "trace_writers.hpp"

namespace morvex_package::tool {
namespace {

std::span<const std::uint8_t> bytes_of(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Writing validates the package first; a failure names the file it was for.
Outcome<std::size_t> store_package(const std::string& file, const Application& app) {
  std::vector<std::uint8_t> bytes;
  if (auto written = about(file, app.write(bytes)); !written) return tl::unexpected(written.error());
  if (auto stored = store_bytes(file, bytes); !stored) return tl::unexpected(stored.error());
  return bytes.size();
}

}  // namespace

bool validate_files(const std::vector<std::string>& files, std::ostream& out, std::ostream& err) {
  bool all_valid = true;
  for (const auto& file : files) {
    const auto app = load_package(file);
    if (!app) {
      err << failure_line(app.error()) << '\n';
      all_valid = false;
      continue;
    }
    out << file << ": valid package, compiler " << app->compiler_version << ", "
        << counted(app->tiles.size(), "tile") << '\n';
  }
  return all_valid;
}

Outcome<void> extract_tile_image(const std::string& file, std::uint32_t physical_tile,
                                 const std::string& image_file, std::ostream& out) {
  const auto app = load_package(file);
  if (!app) return tl::unexpected(app.error());
  const auto image = about(file, app->tile_image(physical_tile));
  if (!image) return tl::unexpected(image.error());
  if (auto stored = store_bytes(image_file, *image); !stored) return stored;
  // tile_image has found the tile and its lowest segment: both exist.
  const auto& tile = *std::find_if(app->tiles.begin(), app->tiles.end(),
                                   [&](const TileImage& t) { return t.physical_tile == physical_tile; });
  const auto lowest =
      std::min_element(tile.segments.begin(), tile.segments.end(),
                       [](const Segment& a, const Segment& b) { return a.address < b.address; });
  out << "tile " << physical_tile << ": load base " << hex(lowest->address) << ", " << image->size()
      << " bytes written to " << image_file << '\n';
  return {};
}

Outcome<void> decode_profile(const std::string& package_file, const std::string& runtime_output_file,
                             std::uint64_t clock_hz, const std::string& report_file, std::ostream& out) {
  const auto app = load_package(package_file);
  if (!app) return tl::unexpected(app.error());
  const auto output = load_bytes(runtime_output_file);
  if (!output) return tl::unexpected(output.error());
  // Decoding reads the runtime output through the package's bindings; its
  // failures are reported against the runtime output.
  const auto report = about(runtime_output_file, app->profile_report(*output, clock_hz));
  if (!report) return tl::unexpected(report.error());
  std::vector<std::uint8_t> bytes;
  if (auto written = about(report_file, report->write(bytes)); !written) return written;
  if (auto stored = store_bytes(report_file, bytes); !stored) return stored;
  std::size_t samples = 0;
  for (const auto& tile : report->tiles) samples += tile.samples.size();
  out << "profile of " << counted(report->tiles.size(), "tile") << ", " << counted(samples, "step")
      << " written to " << report_file << '\n';
  return {};
}

Outcome<void> write_trace(const std::string& report_file, const std::string& trace_file, TraceFormat format,
                          std::ostream& out) {
  const auto report = load_report(report_file);
  if (!report) return tl::unexpected(report.error());
  const std::string trace = format == TraceFormat::Chrome ? chrome_trace(*report) : svg_timeline(*report);
  if (auto stored = store_bytes(trace_file, bytes_of(trace)); !stored) return stored;
  out << (format == TraceFormat::Chrome ? "trace" : "timeline") << " of "
      << counted(report->tiles.size(), "tile") << " written to " << trace_file << '\n';
  if (report->clock_hz == 0) out << "the report has no clock rate: times are in cycles\n";
  return {};
}

Outcome<void> write_example(const ExampleRequest& request, std::ostream& out) {
  if (!request.profiled_tiles) {
    const auto size = store_package(request.package_file, tests::populated_sample());
    if (!size) return tl::unexpected(size.error());
    out << "reference package (" << *size << " bytes) written to " << request.package_file << '\n';
    return {};
  }
  const DemoRun demo = demo_run(*request.profiled_tiles);
  const auto size = store_package(request.package_file, demo.package);
  if (!size) return tl::unexpected(size.error());
  if (auto stored = store_bytes(request.runtime_output_file, demo.runtime_output); !stored) return stored;
  out << "demo package of " << counted(*request.profiled_tiles, "profiled tile") << " (" << *size
      << " bytes) written to " << request.package_file << "\nits runtime output ("
      << demo.runtime_output.size() << " bytes) written to " << request.runtime_output_file << '\n';
  return {};
}

}  // namespace morvex_package::tool
