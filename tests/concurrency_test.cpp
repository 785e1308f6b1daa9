// Several threads use one shared package at once while another installs,
// replaces and clears the diagnostic receiver. Run under ThreadSanitizer
// (the tsan preset) this shows the library's shared state is race-free; in
// every build it shows each thread still gets the right results.

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include <doctest/doctest.h>

#include "random_package.hpp"
#include "support.hpp"

namespace morvex_package {
namespace {

using testing::ok;
using testing::stored;

constexpr int kWorkers = 3;
constexpr int kRounds = 40;

TEST_CASE("threads share one package while the receiver changes") {
  tests::SeededRandom random(0x74687264);
  const tests::ProfiledRun run = tests::random_profiled_run(random, 6);
  const Application& app = run.app;
  const auto package_bytes = stored(app);
  const auto report_bytes = stored(run.report);
  std::vector<Result<std::vector<std::uint8_t>>> images;
  for (const auto& tile : app.tiles) images.push_back(app.tile_image(tile.physical_tile));

  std::atomic<std::uint64_t> events{0};
  std::atomic<int> mismatches{0};
  std::atomic<int> workers_left{kWorkers};
  const auto count_event = [&](const diagnostics::Event& event) {
    if (event.target == "morvex_package" && !event.message.empty())
      events.fetch_add(1, std::memory_order_relaxed);
  };

  const auto work = [&] {
    const auto expect = [&](bool holds) {
      if (!holds) mismatches.fetch_add(1, std::memory_order_relaxed);
    };
    for (int round = 0; round < kRounds; ++round) {
      expect(app.validate().has_value());
      expect(Application::read(package_bytes) == app);
      kj::ArrayInputStream stream(kj::arrayPtr(package_bytes.data(), package_bytes.size()));
      expect(Application::read(stream) == app);
      std::vector<std::uint8_t> written;
      expect(app.write(written).has_value() && written == package_bytes);
      for (std::size_t t = 0; t < app.tiles.size(); ++t) {
        expect(app.tile_image(app.tiles[t].physical_tile) == images[t]);
      }
      expect(app.profile_report(run.output, run.clock_hz) == run.report);
      expect(ProfileReport::read(report_bytes) == run.report);
      written.clear();
      expect(run.report.write(written).has_value() && written == report_bytes);
    }
    workers_left.fetch_sub(1);
  };

  std::vector<std::thread> threads;
  for (int i = 0; i < kWorkers; ++i) threads.emplace_back(work);
  // Counting, throwing (the library swallows it) and self-replacing
  // receivers, at different levels, and no receiver at all.
  for (int turn = 0; workers_left.load() > 0; ++turn) {
    switch (turn % 4) {
      case 0: diagnostics::set_receiver(count_event); break;
      case 1:
        diagnostics::set_receiver(
            [](const diagnostics::Event&) { throw std::runtime_error("receiver failed"); },
            diagnostics::Level::Info);
        break;
      case 2:
        diagnostics::set_receiver([&](const diagnostics::Event& event) {
          count_event(event);
          diagnostics::set_receiver(count_event, diagnostics::Level::Trace);
        });
        break;
      default: diagnostics::clear_receiver(); break;
    }
    std::this_thread::yield();
  }
  for (auto& thread : threads) thread.join();
  diagnostics::clear_receiver();

  CHECK(mismatches.load() == 0);
  CHECK(events.load() > 0);
}

}  // namespace
}  // namespace morvex_package
