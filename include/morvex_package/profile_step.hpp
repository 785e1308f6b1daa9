#pragma once

// A profiled step: planned in a package's per-tile profile plan and measured
// in a profile report's cycle samples.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace morvex_package {

enum class ProfileStepKind : std::uint16_t { Exchange = 0, Compute = 1, Synchronization = 2, Idle = 3 };
enum class ProfileExchangeActivityKind : std::uint16_t { Send = 0, Receive = 1, PartnerBusy = 2 };

struct ProfileMetadata {
  std::string name;
  std::string value;
  bool operator==(const ProfileMetadata&) const = default;
};

// Cycle values are carried as they are: an activity may end before it starts.
struct ProfileExchangeActivity {
  ProfileExchangeActivityKind kind = ProfileExchangeActivityKind::Send;
  std::uint32_t start_cycle = 0;
  std::uint32_t end_cycle = 0;
  bool operator==(const ProfileExchangeActivity&) const = default;
};

struct ProfileStep {
  std::uint32_t local_index = 0;  // position in the tile's plan, from 0
  std::uint32_t phase = 0;
  std::uint32_t epoch = 0;
  std::string operation;
  ProfileStepKind kind = ProfileStepKind::Exchange;
  std::string kernel;
  std::vector<ProfileMetadata> metadata;
  std::vector<ProfileExchangeActivity> exchange_activities;
  std::uint32_t exchange_event_cycles = 0;
  bool operator==(const ProfileStep&) const = default;
};

std::ostream& operator<<(std::ostream& os, ProfileStepKind kind);
std::ostream& operator<<(std::ostream& os, ProfileExchangeActivityKind kind);
std::ostream& operator<<(std::ostream& os, const ProfileMetadata& metadata);
std::ostream& operator<<(std::ostream& os, const ProfileExchangeActivity& activity);
std::ostream& operator<<(std::ostream& os, const ProfileStep& step);

}  // namespace morvex_package
