#pragma once

// The reference packages the self-checks and tests build on.

#include <morvex_package/application.hpp>

namespace morvex_package::tests {

// The default package with one tile (physical tile 0) holding one 8-byte
// segment at 0x4C000 whose data is 01 02 03 04. Every call builds a fresh,
// independent package.
Application sample();

// The reference package plus a one-step profile plan, a configuration
// write, a debug symbol and region, and a host exchange with two pages and
// one batched host call: every kind of record except bindings and entry
// points.
Application populated_sample();

}  // namespace morvex_package::tests
