// One libFuzzer target: MORVEX_PACKAGE_FUZZ_CHECK names the check of
// input_checks.hpp that every input goes through. A broken property aborts,
// so libFuzzer keeps the input; the sanitizers report everything else.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "input_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (const auto problem = morvex_package::tests::MORVEX_PACKAGE_FUZZ_CHECK(std::span(data, size))) {
    std::fprintf(stderr, "broken property: %s\n", problem->c_str());
    std::abort();
  }
  return 0;
}
