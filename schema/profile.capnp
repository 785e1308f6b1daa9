# A stored cycle-profile report: one message whose root is `Profile`.
@0xcc2369e12791a30a;

using Cxx = import "/capnp/c++.capnp";
$Cxx.namespace("morvex_package::wire");

using Common = import "profile_common.capnp";

struct Profile {
  schemaVersion @0 :UInt32;
  clockHz @1 :UInt64;
  tiles @2 :List(TileProfile);
}

struct TileProfile {
  physicalTile @0 :UInt32;
  samples @1 :List(CycleSample);
}

struct CycleSample {
  step @0 :Common.Step;
  startCycle @1 :UInt32;
  endCycle @2 :UInt32;
}
