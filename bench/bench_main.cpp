// Every library operation at device scale, each against its floor on the
// same data in the same run. Each benchmark times the library (its reported
// time) and the floor in alternating order and reports:
//   ratio            library time / floor time, order effects cancelled
//   lib_ms           median library time
//   floor_ms         median floor time
//   lib_fresh_MiB    fresh memory the library path touched (first-touch
//   floor_fresh_MiB  page faults), which dominates these timings

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <vector>

#include <benchmark/benchmark.h>

#include <morvex_package/morvex_package.hpp>

#include "floors.hpp"
#include "workloads.hpp"

namespace morvex_package::bench {
namespace {

struct Sample {
  double seconds;
  double fresh_mib;
};

long minor_faults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// Runs `work` once; its result is freed after the clock stops.
template <class Work>
Sample measure(Work& work) {
  const long faults_before = minor_faults();
  const auto start = std::chrono::steady_clock::now();
  auto result = work();
  const auto stop = std::chrono::steady_clock::now();
  const long faults = minor_faults() - faults_before;
  benchmark::DoNotOptimize(result);
  static const double page_mib = static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
  return {std::chrono::duration<double>(stop - start).count(), static_cast<double>(faults) * page_mib};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Whichever path runs second in a round meets the memory the first one has
// just handed back, so the order of the two matters. Rounds alternate the
// order, and the ratio is the geometric mean of the median ratio of the
// rounds run in each order: an order effect cancels out, and a stray slow
// round does not count. A first round, not counted, warms both paths up.
template <class Lib, class Floor>
void compare(benchmark::State& state, Lib lib, Floor floor) {
  measure(floor);
  measure(lib);
  std::vector<double> lib_times, floor_times, lib_fresh, floor_fresh;
  std::vector<double> ratios[2];  // by order: floor first, library first
  bool floor_first = true;
  for (auto _ : state) {
    Sample lib_sample{};
    Sample floor_sample{};
    if (floor_first) {
      floor_sample = measure(floor);
      lib_sample = measure(lib);
    } else {
      lib_sample = measure(lib);
      floor_sample = measure(floor);
    }
    ratios[floor_first ? 0 : 1].push_back(lib_sample.seconds / floor_sample.seconds);
    floor_first = !floor_first;
    state.SetIterationTime(lib_sample.seconds);
    lib_times.push_back(lib_sample.seconds);
    floor_times.push_back(floor_sample.seconds);
    lib_fresh.push_back(lib_sample.fresh_mib);
    floor_fresh.push_back(floor_sample.fresh_mib);
  }
  state.counters["ratio"] = std::sqrt(median(ratios[0]) * median(ratios[1]));
  state.counters["lib_ms"] = median(lib_times) * 1e3;
  state.counters["floor_ms"] = median(floor_times) * 1e3;
  state.counters["lib_fresh_MiB"] = median(lib_fresh);
  state.counters["floor_fresh_MiB"] = median(floor_fresh);
}

template <class T>
T must(Result<T> result) {
  if (!result) {
    std::cerr << "benchmark operation failed: " << result.error() << '\n';
    std::abort();
  }
  if constexpr (!std::is_void_v<T>) return std::move(*result);
}

const Application& w1() {
  static const Application app = device_scale_package();
  return app;
}
const Application& w2() {
  static const Application app = record_heavy_package();
  return app;
}
const ProfileWorkload& w3() {
  static const ProfileWorkload workload = profile_workload();
  return workload;
}
const std::vector<std::uint8_t>& stored(const Application& app) {
  static std::vector<std::pair<const Application*, std::vector<std::uint8_t>>> cache;
  for (const auto& [key, bytes] : cache) {
    if (key == &app) return bytes;
  }
  return cache.emplace_back(&app, raw_write_package(app)).second;
}
const ProfileReport& w3_report() {
  static const ProfileReport report = must(w3().package.profile_report(w3().runtime_output, 1'500'000'000));
  return report;
}
const std::vector<std::uint8_t>& w3_report_bytes() {
  static const std::vector<std::uint8_t> bytes = raw_write_report(w3_report());
  return bytes;
}

void write_package(benchmark::State& state, const Application& (*workload)()) {
  const Application& app = workload();
  compare(
      state,
      [&] {
        std::vector<std::uint8_t> out;
        must(app.write(out));
        return out;
      },
      [&] { return raw_write_package(app); });
}

void read_span(benchmark::State& state, const Application& (*workload)()) {
  const auto& bytes = stored(workload());
  compare(
      state, [&] { return must(Application::read(bytes)); }, [&] { return raw_read_package_flat(bytes); });
}

void read_stream(benchmark::State& state, const Application& (*workload)()) {
  const auto& bytes = stored(workload());
  compare(
      state,
      [&] {
        kj::ArrayInputStream input(kj::arrayPtr(bytes.data(), bytes.size()));
        return must(Application::read(input));
      },
      [&] { return raw_read_package_stream(bytes); });
}

// Validation against the write it precedes: the ratio is its share.
void validate_share(benchmark::State& state) {
  const Application& app = w1();
  compare(
      state,
      [&] {
        must(app.validate());
        return 0;
      },
      [&] {
        std::vector<std::uint8_t> out;
        must(app.write(out));
        return out;
      });
}

// Validation time per segment as the package grows: flat or logarithmic.
// The sizes all exceed the caches, so that what grows is the work, not the
// share of it that misses the cache.
void validate_growth(benchmark::State& state) {
  const auto tiles = static_cast<std::uint32_t>(state.range(0));
  const Application app = record_heavy_package(tiles);
  for (auto _ : state) must(app.validate());
  const auto segments = static_cast<std::int64_t>(tiles) * 256;
  state.SetComplexityN(segments);
  state.counters["ns_per_segment"] =
      benchmark::Counter(static_cast<double>(segments),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void tile_images(benchmark::State& state) {
  const Application& app = w1();
  compare(
      state,
      [&] {
        std::vector<std::vector<std::uint8_t>> images;
        images.reserve(app.tiles.size());
        for (const auto& tile : app.tiles) images.push_back(must(app.tile_image(tile.physical_tile)));
        return images;
      },
      [&] { return plain_tile_copies(app); });
}

void profile_decoding(benchmark::State& state) {
  const auto& w = w3();
  compare(
      state, [&] { return must(w.package.profile_report(w.runtime_output, 1'500'000'000)); },
      [&] { return plain_profile_copy(w.package, w.runtime_output, w.prefix_bytes); });
}

void report_write(benchmark::State& state) {
  const ProfileReport& report = w3_report();
  compare(
      state,
      [&] {
        std::vector<std::uint8_t> out;
        must(report.write(out));
        return out;
      },
      [&] { return raw_write_report(report); });
}

void report_read(benchmark::State& state) {
  const auto& bytes = w3_report_bytes();
  compare(
      state, [&] { return must(ProfileReport::read(bytes)); }, [&] { return raw_read_report_flat(bytes); });
}

// Rounds per comparison: even, so both orders run equally often, and more
// of them where one round is short and noisy.
constexpr int kLongRounds = 8;
constexpr int kShortRounds = 32;

benchmark::internal::Benchmark* paired(benchmark::internal::Benchmark* b, int rounds) {
  return b->UseManualTime()->Iterations(rounds)->Unit(benchmark::kMillisecond);
}

const auto* const kRegistered = [] {
  paired(benchmark::RegisterBenchmark("write_package/W1", write_package, w1), kLongRounds);
  paired(benchmark::RegisterBenchmark("write_package/W2", write_package, w2), kLongRounds);
  paired(benchmark::RegisterBenchmark("read_span/W1", read_span, w1), kShortRounds);
  paired(benchmark::RegisterBenchmark("read_span/W2", read_span, w2), kShortRounds);
  paired(benchmark::RegisterBenchmark("read_stream/W1", read_stream, w1), kLongRounds);
  paired(benchmark::RegisterBenchmark("read_stream/W2", read_stream, w2), kShortRounds);
  paired(benchmark::RegisterBenchmark("validate_share/W1", validate_share), kLongRounds);
  benchmark::RegisterBenchmark("validate_growth/W2", validate_growth)
      ->Arg(2944)
      ->Arg(5888)
      ->Arg(11776)
      ->Complexity(benchmark::oNLogN)
      ->Unit(benchmark::kMillisecond);
  paired(benchmark::RegisterBenchmark("tile_image_all/W1", tile_images), kShortRounds);
  paired(benchmark::RegisterBenchmark("profile_report/W3", profile_decoding), kLongRounds);
  paired(benchmark::RegisterBenchmark("report_write/W3", report_write), kLongRounds);
  return paired(benchmark::RegisterBenchmark("report_read_span/W3", report_read), kShortRounds);
}();

}  // namespace
}  // namespace morvex_package::bench

BENCHMARK_MAIN();
