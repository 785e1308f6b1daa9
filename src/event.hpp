#pragma once

// Emitting diagnostic events from inside the library.

#include <initializer_list>
#include <string_view>

#include <morvex_package/diagnostics.hpp>

namespace morvex_package::detail {

// True when an installed receiver wants events of `level`. Callers test it
// before building fields that cost something to format.
bool event_enabled(diagnostics::Level level) noexcept;

// Delivers one event with target "morvex_package" if a receiver wants it.
void emit_event(diagnostics::Level level, std::string_view message,
                std::initializer_list<diagnostics::Field> fields = {}) noexcept;

}  // namespace morvex_package::detail
