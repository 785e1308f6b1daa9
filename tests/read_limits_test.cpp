// Reading hostile messages in a child process with a bounded address space.
// A few bytes that claim huge lists, many pointers that share one large
// object, and segment tables that claim gigabytes must all be refused with
// a message error (never decoded until memory runs out), while a large,
// honest message still reads in full.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include <capnp/any.h>
#include <capnp/serialize.h>
#include <doctest/doctest.h>

#include "application.capnp.h"
#include "fixtures.hpp"
#include "profile.capnp.h"
#include "support.hpp"

namespace morvex_package {
namespace {

using testing::any;
using testing::printed;
using testing::stored;

// Sanitizer runtimes reserve terabytes of address space for their shadow
// memory, so these builds run the children without the limit; the outcome
// each case expects still shows whether the guard refused the message.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define MORVEX_PACKAGE_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MORVEX_PACKAGE_SANITIZED 1
#endif
#ifdef MORVEX_PACKAGE_SANITIZED
constexpr bool kLimitAddressSpace = false;
#else
constexpr bool kLimitAddressSpace = true;
#endif

constexpr rlim_t kAddressSpaceBytes = rlim_t{512} << 20;
constexpr rlim_t kCpuSeconds = 60;  // a runaway decode ends as SIGXCPU instead of hanging the suite
constexpr unsigned kMaxListElements = (1u << 29) - 1;

// Bytes of address space the calling process has mapped.
rlim_t mapped_bytes() {
  std::ifstream statm("/proc/self/statm");
  rlim_t pages = 0;
  statm >> pages;
  return pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE));
}

// Runs `body` in a child process with a bounded address space and returns
// the text it reports, or how the child ended when it did not report. The
// bound is kAddressSpaceBytes, or with a `headroom` what the child has
// already mapped plus that headroom.
std::string in_bounded_child(const std::function<std::string()>& body, rlim_t headroom = 0) {
  int fds[2];
  REQUIRE(::pipe(fds) == 0);
  std::cout.flush();
  std::cerr.flush();
  const pid_t pid = ::fork();
  REQUIRE(pid >= 0);
  if (pid == 0) {
    ::close(fds[0]);
    if (kLimitAddressSpace) {
      const rlim_t bound = headroom == 0 ? kAddressSpaceBytes : mapped_bytes() + headroom;
      const rlimit memory{bound, bound};
      if (::setrlimit(RLIMIT_AS, &memory) != 0) ::_exit(3);
    }
    const rlimit cpu{kCpuSeconds, kCpuSeconds};
    if (::setrlimit(RLIMIT_CPU, &cpu) != 0) ::_exit(3);
    std::string report;
    try {
      report = body();
    } catch (...) {
      report = "an exception escaped";
    }
    for (std::size_t sent = 0; sent < report.size();) {
      const auto n = ::write(fds[1], report.data() + sent, report.size() - sent);
      if (n < 0 && errno != EINTR) ::_exit(4);
      if (n > 0) sent += static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string report;
  char buffer[4096];
  for (;;) {
    const auto n = ::read(fds[0], buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno != EINTR)) break;
    if (n > 0) report.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) return "child killed by signal " + std::to_string(WTERMSIG(status));
  if (WEXITSTATUS(status) != 0) return "child exited with status " + std::to_string(WEXITSTATUS(status));
  return report;
}

template <class T>
std::string outcome(const Result<T>& result) {
  return result ? std::string("a value") : printed(result.error());
}

template <class Record>
std::string read_both_ways(const std::vector<std::uint8_t>& bytes) {
  kj::ArrayInputStream stream(kj::arrayPtr(bytes.data(), bytes.size()));
  return "span: " + outcome(Record::read(bytes)) + "; stream: " + outcome(Record::read(stream));
}

std::vector<std::uint8_t> flat_bytes(capnp::MessageBuilder& message) {
  const auto flat = capnp::messageToFlatArray(message);
  const auto bytes = flat.asBytes();
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

void store_u32(kj::ArrayPtr<kj::byte> data, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) data[at + i] = static_cast<kj::byte>(value >> (8 * i));
}

// The smallest package message that passes the header check: a root of two
// data words and pointers up to `pointer`, which `fill` sets.
std::vector<std::uint8_t> tiny_package(unsigned pointer,
                                       const std::function<void(capnp::AnyPointer::Builder)>& fill) {
  capnp::MallocMessageBuilder message;
  auto root =
      message.getRoot<capnp::AnyPointer>().initAsAnyStruct(2, static_cast<std::uint16_t>(pointer + 1));
  store_u32(root.getDataSection(), 0, PACKAGE_SCHEMA_VERSION);
  store_u32(root.getDataSection(), 4, TILE_MEMORY_BASE);
  store_u32(root.getDataSection(), 8, TILE_MEMORY_SIZE);
  root.getPointerSection()[1].setAs<capnp::Text>(PACKAGE_TARGET.data());
  fill(root.getPointerSection()[pointer]);
  return flat_bytes(message);
}

void empty_structs(capnp::AnyPointer::Builder pointer, unsigned count) {
  pointer.initAsListOfAnyStruct(0, 0, count);
}

ProfileReport small_report() {
  ProfileStep step{.operation = "op", .metadata = {{.name = "n", .value = "v"}}};
  return ProfileReport{.clock_hz = 1,
                       .tiles = {TileProfile{.physical_tile = 3, .samples = {{.step = step}}}}};
}

// Points the pointers at word indexes `others` of a one-segment message at
// the object the pointer at word `first` points to, as no builder would.
void share_target(std::vector<std::uint8_t>& bytes, std::size_t first,
                  const std::vector<std::size_t>& others) {
  const auto load = [&](std::size_t word) {
    std::uint64_t value;
    std::memcpy(&value, bytes.data() + 8 * word, 8);
    return value;
  };
  const std::uint64_t pointer = load(first);
  const auto offset = static_cast<std::int32_t>(static_cast<std::uint32_t>(pointer)) >> 2;
  const auto target = static_cast<std::int64_t>(first) + 1 + offset;
  for (const auto word : others) {
    const auto relative = static_cast<std::uint32_t>(target - static_cast<std::int64_t>(word) - 1);
    const std::uint64_t shared = (pointer & 0xFFFFFFFF00000003) | std::uint64_t{relative << 2};
    std::memcpy(bytes.data() + 8 * word, &shared, 8);
  }
}

// Word index of the first pointer of `object` within the flat form of its
// one-segment message (after the one-word segment table).
std::size_t first_pointer_word(capnp::MessageBuilder& message, capnp::AnyStruct::Builder object) {
  const auto* segment = message.getSegmentsForOutput()[0].begin();
  const auto* pointers = reinterpret_cast<const capnp::word*>(object.getDataSection().end());
  return 1 + static_cast<std::size_t>(pointers - segment);
}

constexpr unsigned kSharedObjectWords = 8192;  // 64 KiB
constexpr unsigned kSharers = 8192;            // 512 MiB when each copy is decoded

// Thousands of segments whose data all point at one 64 KiB blob.
std::vector<std::uint8_t> shared_segment_data() {
  capnp::MallocMessageBuilder message(1 << 17);
  auto root = message.initRoot<wire::Application>();
  root.setSchemaVersion(PACKAGE_SCHEMA_VERSION);
  root.setTarget(PACKAGE_TARGET.data());
  root.setTileMemoryBase(TILE_MEMORY_BASE);
  root.setTileMemorySize(TILE_MEMORY_SIZE);
  auto segments = root.initTiles(1)[0].initSegments(kSharers);
  segments[0].initData(kSharedObjectWords * 8);
  std::vector<std::size_t> others;
  for (unsigned i = 1; i < kSharers; ++i) others.push_back(first_pointer_word(message, any(segments[i])));
  const std::size_t first = first_pointer_word(message, any(segments[0]));
  REQUIRE(message.getSegmentsForOutput().size() == 1);
  auto bytes = flat_bytes(message);
  share_target(bytes, first, others);
  return bytes;
}

// Thousands of samples whose steps are all one step with a 64 KiB operation.
std::vector<std::uint8_t> shared_sample_steps() {
  capnp::MallocMessageBuilder message(1 << 17);
  auto root = message.initRoot<wire::Profile>();
  root.setSchemaVersion(5);
  auto samples = root.initTiles(1)[0].initSamples(kSharers);
  samples[0].initStep().initOperation(kSharedObjectWords * 8 - 1);
  std::vector<std::size_t> others;
  for (unsigned i = 1; i < kSharers; ++i) others.push_back(first_pointer_word(message, any(samples[i])));
  const std::size_t first = first_pointer_word(message, any(samples[0]));
  REQUIRE(message.getSegmentsForOutput().size() == 1);
  auto bytes = flat_bytes(message);
  share_target(bytes, first, others);
  return bytes;
}

// A segment table of `segments` segments of 2^32 - 1 words each, then
// eight bytes of body.
std::vector<std::uint8_t> claimed_segments(std::uint32_t segments) {
  std::vector<std::uint8_t> bytes((segments + 2) / 2 * 8 + 8, 0);
  store_u32(kj::arrayPtr(bytes.data(), bytes.size()), 0, segments - 1);
  for (std::uint32_t i = 0; i < segments; ++i)
    store_u32(kj::arrayPtr(bytes.data(), bytes.size()), 4 + 4 * i, ~0u);
  return bytes;
}

struct HostileMessage {
  std::string name;
  std::vector<std::uint8_t> bytes;
  bool is_report;
};

std::vector<HostileMessage> hostile_messages() {
  using PackageRoot = wire::Application::Builder;
  using ReportRoot = wire::Profile::Builder;
  const auto package = stored(tests::populated_sample());
  const auto report = stored(small_report());
  const auto in_package = [&](const std::function<void(PackageRoot)>& mutate) {
    return testing::rewrite<wire::Application>(package, mutate);
  };
  const auto in_report = [&](const std::function<void(ReportRoot)>& mutate) {
    return testing::rewrite<wire::Profile>(report, mutate);
  };
  return {
      {"a tiny package claiming 2^29 - 1 empty tiles",
       tiny_package(2, [](auto p) { empty_structs(p, kMaxListElements); }), false},
      {"a tiny package claiming 2^29 - 1 void tiles",
       tiny_package(2, [](auto p) { p.initAsAnyList(capnp::ElementSize::VOID, kMaxListElements); }), false},
      // Few enough to fit in memory: only the guard tells these from real tiles.
      {"a tiny package claiming 2^16 empty tiles",
       tiny_package(2, [](auto p) { empty_structs(p, 1u << 16); }), false},
      {"a tiny package claiming 2^29 - 1 empty debug regions",
       tiny_package(11, [](auto p) { empty_structs(p, kMaxListElements); }), false},
      {"segments of a tile", in_package([](PackageRoot r) {
         empty_structs(any(r.getTiles()[0]).getPointerSection()[0], kMaxListElements);
       }),
       false},
      {"steps of a profile plan", in_package([](PackageRoot r) {
         empty_structs(any(r.getProfileTiles()[0]).getPointerSection()[0], kMaxListElements);
       }),
       false},
      {"metadata of a planned step", in_package([](PackageRoot r) {
         empty_structs(any(r.getProfileTiles()[0].getSteps()[0]).getPointerSection()[2], kMaxListElements);
       }),
       false},
      {"exchange activities of a planned step", in_package([](PackageRoot r) {
         empty_structs(any(r.getProfileTiles()[0].getSteps()[0]).getPointerSection()[3], kMaxListElements);
       }),
       false},
      {"host calls", in_package([](PackageRoot r) {
         empty_structs(any(r.getHostExchange()).getPointerSection()[2], kMaxListElements);
       }),
       false},
      {"input slices of a host call", in_package([](PackageRoot r) {
         empty_structs(any(r.getHostExchange().getCalls()[0]).getPointerSection()[1], kMaxListElements);
       }),
       false},
      {"segment data shared by thousands of segments", shared_segment_data(), false},
      {"tiles of a report",
       in_report([](ReportRoot r) { empty_structs(any(r).getPointerSection()[0], kMaxListElements); }), true},
      {"samples of a tile profile", in_report([](ReportRoot r) {
         empty_structs(any(r.getTiles()[0]).getPointerSection()[0], kMaxListElements);
       }),
       true},
      {"metadata of a sample's step", in_report([](ReportRoot r) {
         empty_structs(any(r.getTiles()[0].getSamples()[0].getStep()).getPointerSection()[2],
                       kMaxListElements);
       }),
       true},
      {"a step shared by thousands of samples", shared_sample_steps(), true},
      {"16 bytes claiming a 32 GiB package", claimed_segments(1), false},
      {"16 bytes claiming a 32 GiB report", claimed_segments(1), true},
      {"a table claiming 512 segments of 32 GiB", claimed_segments(512), false},
  };
}

TEST_CASE("hostile messages are refused with a message error, from a span and from a stream") {
  for (const auto& message : hostile_messages()) {
    CAPTURE(message.name);
    CAPTURE(message.bytes.size());
    const std::string result = in_bounded_child([&] {
      return message.is_report ? read_both_ways<ProfileReport>(message.bytes)
                               : read_both_ways<Application>(message.bytes);
    });
    // Out of memory shows as Capnp(Overloaded, ...), and an unguarded decode
    // of a list that fits in memory reaches validation instead.
    const auto refused = [&](std::string_view form) {
      const std::string expected = std::string(form) + ": Capnp(Failed, ";
      return result.find(expected) != std::string::npos;
    };
    CHECK_MESSAGE((refused("span") && refused("stream")), result);
  }
}

// Beyond 32 MiB, memory for a streamed body follows what arrives: a few
// bytes claiming more may not take that much address space.
TEST_CASE("a stream takes memory for the bytes that arrive, not for what the table claims") {
  constexpr std::uint32_t kClaimedWords = 6 << 20;  // 48 MiB
  for (const std::size_t sent : {std::size_t{8}, std::size_t{2} << 20}) {
    CAPTURE(sent);
    std::vector<std::uint8_t> bytes(8 + sent, 0);
    store_u32(kj::arrayPtr(bytes.data(), bytes.size()), 4, kClaimedWords);
    const std::string result =
        in_bounded_child([&] { return read_both_ways<Application>(bytes); }, rlim_t{16} << 20);
    CHECK(result ==
          "span: Capnp(Failed, \"message ends prematurely in segment data\"); "
          "stream: Capnp(Failed, \"message ends prematurely in segment data\")");
  }
}

// Forty tiles whose single segment fills the whole window with data: 24 MiB.
Application large_package() {
  Application app;
  for (std::uint32_t t = 0; t < 40; ++t) {
    std::vector<std::uint8_t> data(TILE_MEMORY_SIZE);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + t);
    app.tiles.push_back(TileImage{
        .physical_tile = t,
        .segments = {
            Segment{.address = TILE_MEMORY_BASE, .memory_size = TILE_MEMORY_SIZE, .data = std::move(data)}}});
  }
  return app;
}

// 200 000 samples of one tile, about 180 bytes each on the wire: 34 MiB.
ProfileReport large_report() {
  ProfileReport report{.clock_hz = 1'500'000'000, .tiles = {TileProfile{.physical_tile = 1, .samples = {}}}};
  for (std::uint32_t i = 0; i < 200'000; ++i) {
    report.tiles[0].samples.push_back(
        CycleSample{.step = ProfileStep{.local_index = i,
                                        .operation = "operation." + std::to_string(i),
                                        .kernel = "kernel",
                                        .metadata = {{.name = "reason", .value = "OperatorKernel"}},
                                        .exchange_activities = {{.start_cycle = i, .end_cycle = i + 1}}},
                    .start_cycle = i,
                    .end_cycle = i + 1});
  }
  return report;
}

template <class Record>
std::string round_trip_in_full(const Record& record) {
  std::vector<std::uint8_t> bytes;
  if (!record.write(bytes)) return "not written";
  const std::string size = std::to_string(bytes.size() >> 20) + " MiB";
  if (auto read = Record::read(bytes); !read || *read != record)
    return size + " from a span: " + outcome(read);
  kj::ArrayInputStream stream(kj::arrayPtr(bytes.data(), bytes.size()));
  if (auto read = Record::read(stream); !read || *read != record)
    return size + " from a stream: " + outcome(read);
  return "read in full";
}

TEST_CASE("large honest messages read in full within the same bounds") {
  CHECK(in_bounded_child([] { return round_trip_in_full(large_package()); }) == "read in full");
  CHECK(in_bounded_child([] { return round_trip_in_full(large_report()); }) == "read in full");
}

}  // namespace
}  // namespace morvex_package
