#include <atomic>
#include <memory>
#include <mutex>
#include <span>
#include <utility>

#include "event.hpp"

namespace morvex_package::diagnostics {
namespace {

struct Installed {
  Receiver receiver;
  Level lowest;
};

// No receiver: the lowest wanted level is above every real level, so the
// fast path of event_enabled is one relaxed load and one compare.
constexpr int kNothingWanted = 0x100;

std::atomic<int> g_lowest_wanted{kNothingWanted};
std::mutex g_mutex;
std::shared_ptr<const Installed> g_installed;  // guarded by g_mutex

std::shared_ptr<const Installed> current() {
  std::lock_guard lock(g_mutex);
  return g_installed;
}

}  // namespace

void set_receiver(Receiver receiver, Level lowest) {
  if (!receiver) {
    clear_receiver();
    return;
  }
  auto installed = std::make_shared<const Installed>(Installed{std::move(receiver), lowest});
  std::shared_ptr<const Installed> previous;
  std::lock_guard lock(g_mutex);
  previous = std::exchange(g_installed, std::move(installed));
  g_lowest_wanted.store(static_cast<int>(lowest), std::memory_order_relaxed);
  // `previous` may be the last owner of a receiver with a heavy destructor;
  // it is released after the lock, when this scope ends.
  (void)previous;
}

void clear_receiver() {
  std::shared_ptr<const Installed> previous;
  std::lock_guard lock(g_mutex);
  previous = std::exchange(g_installed, nullptr);
  g_lowest_wanted.store(kNothingWanted, std::memory_order_relaxed);
}

}  // namespace morvex_package::diagnostics

namespace morvex_package::detail {

bool event_enabled(diagnostics::Level level) noexcept {
  return static_cast<int>(level) >= diagnostics::g_lowest_wanted.load(std::memory_order_relaxed);
}

void emit_event(diagnostics::Level level, std::string_view message,
                std::initializer_list<diagnostics::Field> fields) noexcept {
  if (!event_enabled(level)) return;
  try {
    // The receiver runs outside the lock, on a snapshot: it may replace or
    // clear the receiver, and other threads may do so meanwhile.
    auto installed = diagnostics::current();
    if (!installed || level < installed->lowest) return;
    installed->receiver(
        diagnostics::Event{level, "morvex_package", message, std::span(fields.begin(), fields.size())});
  } catch (...) {
    // A faulty receiver must not turn a diagnostic into a failure.
  }
}

}  // namespace morvex_package::detail
