// Writes the seed corpora of the fuzz targets, all produced by the library
// itself: the reference packages, random packages and reports, and random
// profiled runs framed as the profile_report target reads them.
//
// Usage: morvex_package_fuzz_seeds <directory>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <morvex_package/morvex_package.hpp>

#include "fixtures.hpp"
#include "input_checks.hpp"
#include "random_package.hpp"

namespace {

namespace fs = std::filesystem;
using namespace morvex_package;

constexpr std::uint64_t kRandomSeeds = 16;

template <class Record>
std::vector<std::uint8_t> stored(const Record& record) {
  std::vector<std::uint8_t> bytes;
  if (auto written = record.write(bytes); !written) {
    std::fprintf(stderr, "a seed does not write: %s\n", written.error().to_string().c_str());
    std::exit(1);
  }
  return bytes;
}

void save(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!file) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
    return 2;
  }
  const fs::path root = argv[1];
  for (const char* target : {"read_package", "read_report", "profile_report"}) {
    fs::remove_all(root / target);
    fs::create_directories(root / target);
  }

  save(root / "read_package" / "sample", stored(tests::sample()));
  save(root / "read_package" / "populated", stored(tests::populated_sample()));
  // Small scales keep the seeds to a few kilobytes, which keeps runs fast.
  for (std::uint64_t seed = 0; seed < kRandomSeeds; ++seed) {
    const auto scale = static_cast<std::uint32_t>(seed % 4);
    const std::string name = "random-" + std::to_string(seed);
    tests::SeededRandom random(seed);
    save(root / "read_package" / name, stored(tests::random_package(random, scale)));
    save(root / "read_report" / name, stored(tests::random_report(random, scale)));
    const auto run = tests::random_profiled_run(random, scale);
    save(root / "read_report" / ("decoded-" + std::to_string(seed)), stored(run.report));
    save(root / "profile_report" / name, tests::frame_profile_input(stored(run.app), run.output));
  }
  // Larger than the writer's first segment of 8 KiB: messages of several
  // segments joined by far pointers.
  for (std::uint64_t seed = 0; seed < 2; ++seed) {
    const std::string name = "segments-" + std::to_string(seed);
    tests::SeededRandom random(1000 + seed);
    save(root / "read_package" / name, stored(tests::random_package(random, 12)));
    save(root / "read_report" / name, stored(tests::random_report(random, 12)));
  }
  return 0;
}
