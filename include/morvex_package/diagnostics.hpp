#pragma once

// Structured diagnostic events. The library reports a few milestones of its
// operations (a package written, a package read, a tile image rebuilt) to a
// receiver that the embedding program installs; without one, events cost a
// single atomic load.

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <variant>

namespace morvex_package::diagnostics {

enum class Level : std::uint8_t { Trace, Debug, Info, Warn, Error };  // ascending severity

using FieldValue = std::variant<std::uint64_t, std::string_view>;

struct Field {
  std::string_view name;
  FieldValue value;
};

// The views inside an event are valid only during the receiver call.
struct Event {
  Level level;
  std::string_view target;  // "morvex_package" for every event of the library
  std::string_view message;
  std::span<const Field> fields;
};

using Receiver = std::function<void(const Event&)>;

// Installs the process-wide receiver; it gets every event whose level is at
// least `lowest`. Replacing or clearing it is safe while other threads emit,
// and a receiver may itself replace or clear the receiver. Exceptions thrown
// by a receiver are swallowed. An empty receiver clears.
void set_receiver(Receiver receiver, Level lowest = Level::Trace);
void clear_receiver();

}  // namespace morvex_package::diagnostics
