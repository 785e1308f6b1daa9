// Replays the inputs kept in fuzz/regressions/<target>/ through the checks
// their fuzz target applies, so that every build, sanitized or not, keeps
// them passing.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <doctest/doctest.h>

#include "input_checks.hpp"

namespace morvex_package {
namespace {

TEST_CASE("kept fuzz inputs pass the checks of their target") {
  const std::filesystem::path root = MORVEX_PACKAGE_FUZZ_REGRESSIONS;
  const std::pair<const char*, tests::Problem (*)(std::span<const std::uint8_t>)> targets[] = {
      {"read_package", tests::check_package_input},
      {"read_report", tests::check_report_input},
      {"profile_report", tests::check_profile_input},
  };
  for (const auto& [target, check] : targets) {
    const auto directory = root / target;
    if (!std::filesystem::is_directory(directory)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
      if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
      CAPTURE(entry.path().string());
      std::ifstream file(entry.path(), std::ios::binary);
      const std::vector<std::uint8_t> input((std::istreambuf_iterator<char>(file)),
                                            std::istreambuf_iterator<char>());
      const auto problem = check(input);
      CHECK_MESSAGE(!problem, problem.value_or(""));
    }
  }
}

}  // namespace
}  // namespace morvex_package
