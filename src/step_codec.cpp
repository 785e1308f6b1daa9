#include "step_codec.hpp"

#include "message_io.hpp"
#include "wire_values.hpp"

namespace morvex_package::detail {
namespace {

// The record enums carry the wire values, so conversion is a cast once the
// value is known to be in the table.
ProfileStepKind decode_kind(wire::StepKind kind) {
  const auto value = static_cast<std::uint16_t>(kind);
  if (value > static_cast<std::uint16_t>(ProfileStepKind::Idle)) fail(PackageError::SchemaEnum{value});
  return static_cast<ProfileStepKind>(value);
}

ProfileExchangeActivityKind decode_kind(wire::ExchangeActivityKind kind) {
  const auto value = static_cast<std::uint16_t>(kind);
  if (value > static_cast<std::uint16_t>(ProfileExchangeActivityKind::PartnerBusy)) {
    fail(PackageError::SchemaEnum{value});
  }
  return static_cast<ProfileExchangeActivityKind>(value);
}

}  // namespace

void encode_step(const ProfileStep& step, wire::Step::Builder out) {
  out.setLocalIndex(step.local_index);
  out.setPhase(step.phase);
  out.setEpoch(step.epoch);
  out.setOperation(wire_text(step.operation));
  out.setKind(static_cast<wire::StepKind>(step.kind));
  out.setKernel(wire_text(step.kernel));
  out.setExchangeEventCycles(step.exchange_event_cycles);
  auto metadata = out.initMetadata(list_size(step.metadata.size()));
  for (unsigned int i = 0; i < metadata.size(); ++i) {
    metadata[i].setName(wire_text(step.metadata[i].name));
    metadata[i].setValue(wire_text(step.metadata[i].value));
  }
  auto activities = out.initExchangeActivities(list_size(step.exchange_activities.size()));
  for (unsigned int i = 0; i < activities.size(); ++i) {
    const auto& activity = step.exchange_activities[i];
    activities[i].setKind(static_cast<wire::ExchangeActivityKind>(activity.kind));
    activities[i].setStartCycle(activity.start_cycle);
    activities[i].setEndCycle(activity.end_cycle);
  }
}

ProfileStep decode_step(wire::Step::Reader in) {
  return ProfileStep{
      .local_index = in.getLocalIndex(),
      .phase = in.getPhase(),
      .epoch = in.getEpoch(),
      .operation = read_text(in.getOperation()),
      .kind = decode_kind(in.getKind()),
      .kernel = read_text(in.getKernel()),
      .metadata = read_list(in.getMetadata(),
                            [](wire::Metadata::Reader m) {
                              return ProfileMetadata{.name = read_text(m.getName()),
                                                     .value = read_text(m.getValue())};
                            }),
      .exchange_activities = read_list(in.getExchangeActivities(),
                                       [](wire::ExchangeActivity::Reader a) {
                                         return ProfileExchangeActivity{.kind = decode_kind(a.getKind()),
                                                                        .start_cycle = a.getStartCycle(),
                                                                        .end_cycle = a.getEndCycle()};
                                       }),
      .exchange_event_cycles = in.getExchangeEventCycles(),
  };
}

}  // namespace morvex_package::detail
