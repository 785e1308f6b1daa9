#pragma once

// The one wire form of a profiled step, shared by package profile plans and
// profile report samples.

#include <morvex_package/profile_step.hpp>

#include "profile_common.capnp.h"

namespace morvex_package::detail {

// Fills a freshly created wire step, field by field in the stored order.
void encode_step(const ProfileStep& step, wire::Step::Builder out);

// Copies a wire step into a record; throws (see failure.hpp) on a text that
// is not UTF-8, an enum value outside its table, or a malformed pointer.
ProfileStep decode_step(wire::Step::Reader in);

}  // namespace morvex_package::detail
