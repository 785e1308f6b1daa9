# Profiled steps, shared by the application package (per-tile profile plans)
# and by stored profile reports (the step of every cycle sample), so that a
# step has one wire form in both.
@0x88561e3adacaa8d0;

using Cxx = import "/capnp/c++.capnp";
$Cxx.namespace("morvex_package::wire");

enum StepKind {
  exchange @0;
  compute @1;
  synchronization @2;
  idle @3;
}

enum ExchangeActivityKind {
  send @0;
  receive @1;
  partnerBusy @2;
}

# Data 3 words, 4 pointers. `kind` lands in bytes 12-13, so
# `exchangeEventCycles` opens a third data word (bytes 16-19).
struct Step {
  localIndex @0 :UInt32;
  phase @1 :UInt32;
  epoch @2 :UInt32;
  operation @3 :Text;
  kind @4 :StepKind;
  kernel @5 :Text;
  metadata @6 :List(Metadata);
  exchangeActivities @7 :List(ExchangeActivity);
  exchangeEventCycles @8 :UInt32;
}

struct Metadata {
  name @0 :Text;
  value @1 :Text;
}

# Data 2 words, 0 pointers; bytes 2-3 and 12-15 stay unused.
struct ExchangeActivity {
  kind @0 :ExchangeActivityKind;
  startCycle @1 :UInt32;
  endCycle @2 :UInt32;
}
