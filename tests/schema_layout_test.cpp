// The wire layout is the stored format: every struct's size and every
// field's position is pinned here, read from the compiled schemas.

#include <string>
#include <vector>

#include <capnp/schema.h>
#include <doctest/doctest.h>

#include "application.capnp.h"
#include "profile.capnp.h"
#include "profile_common.capnp.h"

namespace morvex_package {
namespace {

struct FieldPosition {
  const char* name;
  std::string position;  // "bytes A-B" (inclusive) or "ptr N"
};

struct StructLayout {
  capnp::StructSchema schema;
  unsigned data_words;
  unsigned pointers;
  std::vector<FieldPosition> fields;
};

unsigned data_bytes(capnp::schema::Type::Which type) {
  switch (type) {
    case capnp::schema::Type::UINT16:
    case capnp::schema::Type::ENUM: return 2;
    case capnp::schema::Type::UINT32: return 4;
    case capnp::schema::Type::UINT64: return 8;
    default: return 0;  // pointer types
  }
}

std::string position_of(capnp::StructSchema::Field field) {
  const auto slot = field.getProto().getSlot();
  const unsigned width = data_bytes(slot.getType().which());
  if (width == 0) return "ptr " + std::to_string(slot.getOffset());
  const unsigned first = slot.getOffset() * width;
  return "bytes " + std::to_string(first) + "-" + std::to_string(first + width - 1);
}

template <class T>
capnp::StructSchema schema_of() {
  return capnp::Schema::from<T>();
}

TEST_CASE("every struct has its size and every field its position") {
  const std::vector<StructLayout> layouts = {
      {schema_of<wire::Application>(),
       2,
       12,
       {{"schemaVersion", "bytes 0-3"},
        {"compilerVersion", "ptr 0"},
        {"target", "ptr 1"},
        {"tileMemoryBase", "bytes 4-7"},
        {"tileMemorySize", "bytes 8-11"},
        {"tiles", "ptr 2"},
        {"inputs", "ptr 3"},
        {"outputs", "ptr 4"},
        {"weights", "ptr 5"},
        {"hostExchange", "ptr 6"},
        {"entryPoints", "ptr 7"},
        {"deviceConfigWrites", "ptr 8"},
        {"profileTiles", "ptr 9"},
        {"debugSymbols", "ptr 10"},
        {"debugRegions", "ptr 11"}}},
      {schema_of<wire::TileImage>(),
       2,
       1,
       {{"physicalTile", "bytes 0-3"},
        {"entryPoint", "bytes 4-7"},
        {"commandAddress", "bytes 8-11"},
        {"diagnosticAddress", "bytes 12-15"},
        {"segments", "ptr 0"}}},
      {schema_of<wire::Segment>(),
       2,
       1,
       {{"address", "bytes 0-3"}, {"memorySize", "bytes 4-7"}, {"data", "ptr 0"}, {"flags", "bytes 8-11"}}},
      {schema_of<wire::Binding>(),
       0,
       4,
       {{"name", "ptr 0"}, {"dtype", "ptr 1"}, {"shape", "ptr 2"}, {"slices", "ptr 3"}}},
      {schema_of<wire::RegionSlice>(),
       3,
       0,
       {{"tile", "bytes 0-3"},
        {"tileAddress", "bytes 4-7"},
        {"fileOffset", "bytes 8-15"},
        {"size", "bytes 16-23"}}},
      {schema_of<wire::HostExchange>(),
       2,
       3,
       {{"startupMark", "bytes 0-3"},
        {"commandPage", "bytes 4-7"},
        {"commandOffset", "bytes 8-15"},
        {"pages", "ptr 0"},
        {"attachOrder", "ptr 1"},
        {"calls", "ptr 2"}}},
      {schema_of<wire::HostPage>(), 2, 0, {{"index", "bytes 0-3"}, {"size", "bytes 8-15"}}},
      {schema_of<wire::HostCall>(),
       2,
       5,
       {{"name", "ptr 0"},
        {"command", "bytes 0-3"},
        {"phases", "bytes 4-7"},
        {"inputs", "ptr 1"},
        {"outputs", "ptr 2"},
        {"invocations", "bytes 8-11"},
        {"inputBatchEnds", "ptr 3"},
        {"outputBatchEnds", "ptr 4"}}},
      {schema_of<wire::HostSlice>(),
       4,
       0,
       {{"page", "bytes 0-3"},
        {"pageOffset", "bytes 8-15"},
        {"fileOffset", "bytes 16-23"},
        {"size", "bytes 24-31"}}},
      {schema_of<wire::EntryPoint>(),
       1,
       1,
       {{"name", "ptr 0"}, {"command", "bytes 0-3"}, {"externalSyncs", "bytes 4-7"}}},
      {schema_of<wire::DeviceConfigWrite>(), 1, 0, {{"offset", "bytes 0-3"}, {"value", "bytes 4-7"}}},
      {schema_of<wire::TileProfilePlan>(), 1, 1, {{"physicalTile", "bytes 0-3"}, {"steps", "ptr 0"}}},
      {schema_of<wire::DebugSymbol>(), 1, 1, {{"name", "ptr 0"}, {"address", "bytes 0-3"}}},
      {schema_of<wire::DebugRegion>(),
       2,
       1,
       {{"physicalTile", "bytes 0-3"}, {"address", "bytes 4-7"}, {"size", "bytes 8-11"}, {"name", "ptr 0"}}},
      {schema_of<wire::Step>(),
       3,
       4,
       {{"localIndex", "bytes 0-3"},
        {"phase", "bytes 4-7"},
        {"epoch", "bytes 8-11"},
        {"operation", "ptr 0"},
        {"kind", "bytes 12-13"},
        {"kernel", "ptr 1"},
        {"metadata", "ptr 2"},
        {"exchangeActivities", "ptr 3"},
        {"exchangeEventCycles", "bytes 16-19"}}},
      {schema_of<wire::Metadata>(), 0, 2, {{"name", "ptr 0"}, {"value", "ptr 1"}}},
      {schema_of<wire::ExchangeActivity>(),
       2,
       0,
       {{"kind", "bytes 0-1"}, {"startCycle", "bytes 4-7"}, {"endCycle", "bytes 8-11"}}},
      {schema_of<wire::Profile>(),
       2,
       1,
       {{"schemaVersion", "bytes 0-3"}, {"clockHz", "bytes 8-15"}, {"tiles", "ptr 0"}}},
      {schema_of<wire::TileProfile>(), 1, 1, {{"physicalTile", "bytes 0-3"}, {"samples", "ptr 0"}}},
      {schema_of<wire::CycleSample>(),
       1,
       1,
       {{"step", "ptr 0"}, {"startCycle", "bytes 0-3"}, {"endCycle", "bytes 4-7"}}},
  };
  for (const auto& layout : layouts) {
    const auto proto = layout.schema.getProto();
    CAPTURE(std::string(proto.getDisplayName().cStr()));
    CHECK(proto.getStruct().getDataWordCount() == layout.data_words);
    CHECK(proto.getStruct().getPointerCount() == layout.pointers);
    CHECK(proto.getStruct().getDiscriminantCount() == 0);
    const auto fields = layout.schema.getFields();
    REQUIRE(fields.size() == layout.fields.size());
    for (const auto& expected : layout.fields) {
      CAPTURE(expected.name);
      const auto field = layout.schema.getFieldByName(expected.name);
      REQUIRE(field.getProto().isSlot());
      CHECK(position_of(field) == expected.position);
    }
  }
}

TEST_CASE("only host_call.invocations has a default, 1") {
  const auto invocations = schema_of<wire::HostCall>().getFieldByName("invocations");
  CHECK(invocations.getProto().getSlot().getDefaultValue().getUint32() == 1);
  CHECK(wire::HostCall::Reader().getInvocations() == 1);
  CHECK(static_cast<unsigned>(wire::StepKind::IDLE) == 3);
  CHECK(static_cast<unsigned>(wire::ExchangeActivityKind::PARTNER_BUSY) == 2);
}

}  // namespace
}  // namespace morvex_package
