#pragma once

// How the library turns every exception into a returned error. Deep inside a
// decode, `fail` abandons the work with a PackageError; `guarded` wraps each
// public operation so that nothing thrown below it, by the library or by the
// Cap'n Proto runtime, escapes to the caller.

#include <exception>
#include <new>
#include <utility>

#include <kj/exception.h>

#include <morvex_package/error.hpp>

namespace morvex_package::detail {

struct Failure {
  PackageError error;
};

[[noreturn]] inline void fail(PackageError error) { throw Failure{std::move(error)}; }

[[noreturn]] inline void fail_capnp(std::string description) {
  fail(PackageError::Capnp{kj::Exception::Type::FAILED, std::move(description)});
}

// `body` returns a Result<T>; so does guarded(body).
template <class Body>
auto guarded(Body&& body) noexcept -> decltype(body()) {
  using R = decltype(body());
  try {
    return std::forward<Body>(body)();
  } catch (Failure& failure) {
    return R(tl::unexpect, std::move(failure.error));
  } catch (const kj::Exception& exception) {
    return R(tl::unexpect, PackageError(exception));
  } catch (const std::bad_alloc&) {
    return R(tl::unexpect, PackageError::Capnp{kj::Exception::Type::OVERLOADED, "out of memory"});
  } catch (const std::exception& exception) {
    return R(tl::unexpect, PackageError::Capnp{kj::Exception::Type::FAILED, exception.what()});
  } catch (...) {
    return R(tl::unexpect, PackageError::Capnp{kj::Exception::Type::FAILED, "unknown exception"});
  }
}

}  // namespace morvex_package::detail
