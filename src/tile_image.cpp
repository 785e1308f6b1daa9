// Rebuilding one tile's contiguous memory image from its segments.

#include <algorithm>
#include <cstring>
#include <limits>

#include <morvex_package/application.hpp>

#include "checked_math.hpp"
#include "event.hpp"
#include "failure.hpp"
#include "text_format.hpp"

namespace morvex_package {
namespace {

using detail::Hex;
using detail::invalid;

// Image length: the furthest segment end, counted from the load base. A
// tile that breaks the segment rules is refused here rather than allowed to
// wrap the length or write past the image.
Result<std::uint32_t> image_length(const TileImage& tile, std::uint32_t load_base) {
  std::uint32_t length = 0;
  for (const auto& segment : tile.segments) {
    if (segment.data.size() > segment.memory_size) {
      return invalid("segment data exceeds memory size on tile ", tile.physical_tile, ": address=0x",
                     Hex{segment.address}, " memory_size=", segment.memory_size,
                     " data_size=", segment.data.size());
    }
    const auto end = detail::checked_add(segment.address - load_base, segment.memory_size);
    if (!end) return invalid("tile image size overflow on tile ", tile.physical_tile);
    length = std::max(length, *end);
  }
  return length;
}

void emit_reconstructing(std::uint32_t physical_tile, std::uint32_t load_base, std::uint32_t length) {
  if (!detail::event_enabled(diagnostics::Level::Trace)) return;
  const std::string base_text = detail::concat("0x", Hex{load_base});
  detail::emit_event(diagnostics::Level::Trace, "reconstructing tile image",
                     {{"physical_tile", std::uint64_t{physical_tile}},
                      {"load_base", std::string_view(base_text)},
                      {"image_bytes", std::uint64_t{length}}});
}

Result<std::vector<std::uint8_t>> rebuild(const Application& app, std::uint32_t physical_tile) {
  const auto tile = std::find_if(app.tiles.begin(), app.tiles.end(),
                                 [&](const TileImage& t) { return t.physical_tile == physical_tile; });
  if (tile == app.tiles.end()) return invalid("unknown tile ", physical_tile);
  if (tile->segments.empty()) return invalid("tile has no loadable segments");

  const std::uint32_t load_base =
      std::min_element(tile->segments.begin(), tile->segments.end(), [](const Segment& a, const Segment& b) {
        return a.address < b.address;
      })->address;
  const auto length = image_length(*tile, load_base);
  if (!length) return tl::unexpected(length.error());
  emit_reconstructing(physical_tile, load_base, *length);

  // Later segments win where segments share bytes.
  std::vector<std::uint8_t> image(*length);
  for (const auto& segment : tile->segments) {
    if (!segment.data.empty()) {
      std::memcpy(image.data() + (segment.address - load_base), segment.data.data(), segment.data.size());
    }
  }
  return image;
}

}  // namespace

Result<std::vector<std::uint8_t>> Application::tile_image(std::uint32_t physical_tile) const {
  return detail::guarded([&] { return rebuild(*this, physical_tile); });
}

}  // namespace morvex_package
