// Decoding the cycle counters that profiled tiles leave in a runtime output.
// The package is not validated first: every check needed here is made here.

#include <limits>
#include <unordered_map>
#include <utility>

#include <morvex_package/application.hpp>

#include "checked_math.hpp"
#include "failure.hpp"
#include "little_endian.hpp"
#include "text_format.hpp"

namespace morvex_package {
namespace {

using detail::invalid;

constexpr std::string_view kProfileBinding = "profile.cycles";
constexpr std::uint64_t kCounterBytes = 4;

struct ProfileBinding {
  const Binding* binding;
  std::uint64_t base;  // offset of its first byte in the runtime output
};

// The output bindings lie back to back; the profile binding is the first
// one with the exact name. Bindings after it play no part.
Result<ProfileBinding> find_profile_binding(const std::vector<Binding>& outputs) {
  std::uint64_t base = 0;
  for (const auto& binding : outputs) {
    if (binding.name == kProfileBinding) return ProfileBinding{&binding, base};
    const auto next = detail::checked_add(base, binding_size(binding));
    if (!next) return invalid("output binding size overflow");
    base = *next;
  }
  return invalid("application has no cycle profile binding");
}

// Byte range of one plan's counters within the runtime output.
Result<std::pair<std::size_t, std::size_t>> counter_range(const TileProfilePlan& plan,
                                                          const RegionSlice& slice,
                                                          std::uint64_t binding_base,
                                                          std::size_t output_size) {
  if (!std::in_range<std::uint64_t>(plan.steps.size())) return invalid("profile sample count overflow");
  const auto counters = detail::checked_add<std::uint64_t>(plan.steps.size(), 1);
  if (!counters) return invalid("profile sample count overflow");
  const auto expected = detail::checked_mul(*counters, kCounterBytes);
  if (!expected) return invalid("profile sample size overflow");
  if (slice.size != *expected) {
    return invalid("cycle profile slice for tile ", plan.physical_tile, " has size ", slice.size,
                   ", expected ", *expected);
  }
  // The start is a 64-bit sum as well; it must not wrap either.
  const auto start = detail::checked_add(binding_base, slice.file_offset);
  if (!start || !std::in_range<std::size_t>(*start)) return invalid("profile output offset overflow");
  if (!std::in_range<std::size_t>(slice.size)) return invalid("profile output size exceeds usize");
  const auto end =
      detail::checked_add(static_cast<std::size_t>(*start), static_cast<std::size_t>(slice.size));
  if (!end) return invalid("profile output range overflow");
  if (*end > output_size) return invalid("profile binding exceeds runtime output");
  return std::pair{static_cast<std::size_t>(*start), *end};
}

// Step i runs from counter i to counter i + 1.
TileProfile pair_samples(const TileProfilePlan& plan, const std::uint8_t* counters) {
  TileProfile profile{.physical_tile = plan.physical_tile, .samples = {}};
  profile.samples.reserve(plan.steps.size());
  std::uint32_t start = detail::load_le32(counters);
  for (const auto& step : plan.steps) {
    counters += kCounterBytes;
    const std::uint32_t end = detail::load_le32(counters);
    profile.samples.push_back(CycleSample{.step = step, .start_cycle = start, .end_cycle = end});
    start = end;
  }
  return profile;
}

Result<ProfileReport> decode_profile(const Application& app, std::span<const std::uint8_t> output,
                                     std::uint64_t clock_hz) {
  const auto profile = find_profile_binding(app.outputs);
  if (!profile) return tl::unexpected(profile.error());

  // The last slice for a tile is the one that counts.
  std::unordered_map<std::uint32_t, const RegionSlice*> slices;
  slices.reserve(profile->binding->slices.size());
  for (const auto& slice : profile->binding->slices) slices.insert_or_assign(slice.tile, &slice);

  ProfileReport report{.clock_hz = clock_hz, .tiles = {}};
  report.tiles.reserve(app.profile_tiles.size());
  for (const auto& plan : app.profile_tiles) {
    const auto slice = slices.find(plan.physical_tile);
    if (slice == slices.end()) return invalid("cycle profile has no slice for tile ", plan.physical_tile);
    const auto range = counter_range(plan, *slice->second, profile->base, output.size());
    if (!range) return tl::unexpected(range.error());
    report.tiles.push_back(pair_samples(plan, output.data() + range->first));
  }
  return report;
}

}  // namespace

std::uint64_t binding_size(const Binding& binding) {
  std::uint64_t extent = 0;
  for (const auto& slice : binding.slices) {
    extent = std::max(extent, detail::saturating_add(slice.file_offset, slice.size));
  }
  return extent;
}

Result<ProfileReport> Application::profile_report(std::span<const std::uint8_t> output,
                                                  std::uint64_t clock_hz) const {
  return detail::guarded([&] { return decode_profile(*this, output, clock_hz); });
}

}  // namespace morvex_package
