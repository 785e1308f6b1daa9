#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include <doctest/doctest.h>

#include "fixtures.hpp"
#include "support.hpp"

namespace morvex_package {
namespace {

using diagnostics::Level;

TEST_CASE("a receiver gets the events at or above its level") {
  const auto bytes = testing::stored(tests::sample());
  testing::EventLog info(Level::Info);
  testing::ok(Application::read(bytes));
  testing::ok(tests::sample().tile_image(0));
  CHECK(info.messages() ==
        std::vector<std::string>{"reading application package", "application package read"});
}

TEST_CASE("replacing and clearing the receiver") {
  int first = 0;
  int second = 0;
  diagnostics::set_receiver([&](const diagnostics::Event&) { ++first; });
  testing::stored(tests::sample());
  diagnostics::set_receiver([&](const diagnostics::Event&) { ++second; }, Level::Info);
  testing::stored(tests::sample());
  diagnostics::clear_receiver();
  testing::stored(tests::sample());
  CHECK(first == 2);
  CHECK(second == 2);

  diagnostics::set_receiver([&](const diagnostics::Event&) { ++first; });
  diagnostics::set_receiver(nullptr);  // an empty receiver clears
  testing::stored(tests::sample());
  CHECK(first == 2);
}

TEST_CASE("a receiver that throws or clears itself does not disturb the operation") {
  diagnostics::set_receiver([](const diagnostics::Event&) { throw std::runtime_error("receiver fault"); });
  std::vector<std::uint8_t> bytes;
  CHECK(tests::sample().write(bytes).has_value());
  CHECK_FALSE(bytes.empty());

  int calls = 0;
  diagnostics::set_receiver([&](const diagnostics::Event&) {
    ++calls;
    diagnostics::clear_receiver();
  });
  testing::stored(tests::sample());
  CHECK(calls == 1);
  diagnostics::clear_receiver();
}

TEST_CASE("receivers may be replaced while other threads emit") {
  const Application app = tests::sample();
  std::atomic<bool> stop{false};

  std::vector<std::thread> writers;
  for (int i = 0; i < 2; ++i) {
    writers.emplace_back([&] {
      while (!stop.load()) testing::stored(app);
    });
  }
  for (int i = 0; i < 200; ++i) {
    diagnostics::set_receiver(
        [](const diagnostics::Event& event) { CHECK(event.target == "morvex_package"); });
    diagnostics::clear_receiver();
  }
  stop = true;
  for (auto& writer : writers) writer.join();
}

}  // namespace
}  // namespace morvex_package
