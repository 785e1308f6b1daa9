#pragma once

// JSON forms of records shared by `dump --json` and the Chrome trace.

#include <nlohmann/json.hpp>

#include <morvex_package/profile_step.hpp>

namespace morvex_package::tool {

using Json = nlohmann::ordered_json;

// A step with its fields in declaration order; enums by enumerant name.
Json step_json(const ProfileStep& step);

}  // namespace morvex_package::tool
