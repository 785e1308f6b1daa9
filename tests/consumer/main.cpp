// Writes a small package, reads it back and rebuilds its tile image, using
// nothing but the installed public interface. Exits 0 when all went well.

#include <cstdio>
#include <vector>

#include <morvex_package/morvex_package.hpp>

using namespace morvex_package;

namespace {

int fail(const char* what) {
  std::fprintf(stderr, "consumer: %s\n", what);
  return 1;
}

}  // namespace

int main() {
  Application app;
  app.tiles.push_back(TileImage{
      .physical_tile = 0,
      .entry_point = TILE_MEMORY_BASE,
      .segments = {Segment{.address = TILE_MEMORY_BASE, .memory_size = 8, .data = {1, 2, 3, 4}, .flags = 5}},
  });
  app.debug_symbols = {DebugSymbol{.name = "main", .address = TILE_MEMORY_BASE}};

  std::vector<std::uint8_t> bytes;
  if (!app.write(bytes)) return fail("write failed");
  const Result<Application> read = Application::read(bytes);
  if (!read || *read != app) return fail("the package read back differs");
  const auto image = read->tile_image(0);
  if (!image || *image != std::vector<std::uint8_t>{1, 2, 3, 4, 0, 0, 0, 0}) return fail("wrong tile image");

  const auto empty = Application{}.validate();
  if (empty || empty.error().to_string() != "application has no tiles") return fail("empty package accepted");
  std::puts("consumer: package written, read and reconstructed");
  return 0;
}
