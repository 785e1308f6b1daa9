// Properties over seeded random packages and reports: every valid one reads
// back equal, and damaged bytes read back as a value or an error, never as
// anything else (see input_checks.hpp for what "anything else" covers).

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include <doctest/doctest.h>

#include "input_checks.hpp"
#include "random_package.hpp"
#include "support.hpp"

namespace morvex_package {
namespace {

using testing::ok;
using testing::stored;

// Scales 0 to 8 in turn, and every tenth draw a larger one.
std::uint32_t scale_for(std::uint64_t seed) {
  return seed % 10 == 9 ? 24 : static_cast<std::uint32_t>(seed % 9);
}

// Shapes the property below must meet among its random packages, so that a
// change to the generator cannot quietly make it trivial.
struct ShapesSeen {
  bool zero_fill = false;      // a segment holding less data than its size
  bool empty_segment = false;  // a segment of size 0
  bool touching_segments = false;
  bool slices = false;
  bool batched_calls = false;  // a call side with more than one batch
  bool steps = false;
  bool untied_region = false;
  bool four_byte_text = false;

  void note(const Application& app) {
    for (const auto& tile : app.tiles) {
      for (const auto& a : tile.segments) {
        zero_fill = zero_fill || a.data.size() < a.memory_size;
        empty_segment = empty_segment || a.memory_size == 0;
        for (const auto& b : tile.segments) {
          touching_segments =
              touching_segments || (a.memory_size != 0 && a.address + a.memory_size == b.address);
        }
      }
    }
    for (const auto& binding : app.inputs) slices = slices || !binding.slices.empty();
    for (const auto& call : app.host_exchange.calls) {
      batched_calls = batched_calls || call.input_batch_ends.size() > 1 || call.output_batch_ends.size() > 1;
    }
    for (const auto& plan : app.profile_tiles) steps = steps || !plan.steps.empty();
    for (const auto& region : app.debug_regions) untied_region = untied_region || region.physical_tile == ~0u;
    for (const auto& symbol : app.debug_symbols) {
      four_byte_text = four_byte_text || symbol.name.find('\xF0') != std::string::npos ||
                       symbol.name.find('\xF4') != std::string::npos;
    }
  }

  bool all() const {
    return zero_fill && empty_segment && touching_segments && slices && batched_calls && steps &&
           untied_region && four_byte_text;
  }
};

TEST_CASE("random valid packages and reports read back equal") {
  ShapesSeen seen;
  for (std::uint64_t seed = 0; seed < 300; ++seed) {
    CAPTURE(seed);
    tests::SeededRandom random(seed);
    const Application app = tests::random_package(random, scale_for(seed));
    seen.note(app);
    const auto bytes = stored(app);
    REQUIRE(ok(Application::read(bytes)) == app);
    kj::ArrayInputStream stream(kj::arrayPtr(bytes.data(), bytes.size()));
    REQUIRE(ok(Application::read(stream)) == app);

    const ProfileReport report = tests::random_report(random, scale_for(seed));
    REQUIRE(ok(ProfileReport::read(stored(report))) == report);

    const tests::ProfiledRun run = tests::random_profiled_run(random, scale_for(seed));
    REQUIRE(ok(run.app.profile_report(run.output, run.clock_hz)) == run.report);
  }
  CHECK(seen.all());
}

// Pointer words a damaged message may well contain: lists and structs of
// the largest sizes, a composite tag claiming 2^29 - 1 empty elements, a
// far pointer, and a struct pointer to itself.
constexpr std::array<std::uint64_t, 7> kHostileWords = {
    0xFFFFFFFF00000001,  // composite list, 2^29 - 1 words
    0xFFFFFFF800000001,  // list of 2^29 - 1 voids
    0xFFFFFFFF00000000,  // struct of 65535 data words and 65535 pointers
    0x000000007FFFFFFC,  // tag: 2^29 - 1 elements of no size
    0x0000000100000002,  // far pointer into segment 1
    0x00010000FFFFFFFC,  // struct with one pointer, at itself
    0xFFFFFFFFFFFFFFFF,
};

// Damages `bytes` in one to three places: a flipped bit, a cut, inserted
// bytes or an overwritten word.
void mutate(tests::SeededRandom& random, std::vector<std::uint8_t>& bytes) {
  const auto damages = random.uniform(1, 3);
  for (std::uint64_t d = 0; d < damages; ++d) {
    switch (random.uniform(0, 3)) {
      case 0:
        if (!bytes.empty()) {
          const auto at = random.uniform(0, bytes.size() - 1);
          bytes[at] ^= static_cast<std::uint8_t>(1u << random.uniform(0, 7));
        }
        break;
      case 1: bytes.resize(random.uniform(0, bytes.size())); break;
      case 2: {
        const auto at = random.uniform(0, bytes.size());
        const auto count = random.uniform(1, 16);
        std::vector<std::uint8_t> inserted;
        for (std::uint64_t i = 0; i < count; ++i)
          inserted.push_back(static_cast<std::uint8_t>(random.next()));
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), inserted.begin(), inserted.end());
        break;
      }
      default:
        if (bytes.size() >= 8) {
          const auto at = random.uniform(0, bytes.size() / 8 - 1) * 8;
          const std::uint64_t word =
              random.coin() ? kHostileWords[random.uniform(0, kHostileWords.size() - 1)] : random.next();
          std::memcpy(bytes.data() + at, &word, sizeof word);
        }
        break;
    }
  }
}

TEST_CASE("damaged packages, reports and runtime outputs read as a value or an error") {
  struct Kind {
    const char* name;
    std::vector<std::uint8_t> (*draw)(tests::SeededRandom&);
    tests::Problem (*check)(std::span<const std::uint8_t>);
  };
  const Kind kinds[] = {
      {"package", [](tests::SeededRandom& r) { return stored(tests::random_package(r, 4)); },
       tests::check_package_input},
      {"report", [](tests::SeededRandom& r) { return stored(tests::random_report(r, 4)); },
       tests::check_report_input},
      {"profiled run",
       [](tests::SeededRandom& r) {
         const auto run = tests::random_profiled_run(r, 4);
         return tests::frame_profile_input(stored(run.app), run.output);
       },
       tests::check_profile_input},
  };
  for (const auto& kind : kinds) {
    tests::SeededRandom random(0x6D757461);
    for (int i = 0; i < 1000; ++i) {
      auto bytes = kind.draw(random);
      mutate(random, bytes);
      const auto problem = kind.check(bytes);
      REQUIRE_MESSAGE(!problem, kind.name << " " << i << ": " << problem.value_or(""));
    }
  }
}

}  // namespace
}  // namespace morvex_package
