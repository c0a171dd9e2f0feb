// The one way product code says "this failed, and here is why": a Result holds either the
// value asked for or the reason it could not be had. A reason is a typed kind that callers
// decide on, with the words for a person beside it; it is never an outcome word.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace quarnel {

// A reason of some kind: `kind` for decisions, `detail` for people.
template <class Kind>
struct Reason {
  Kind kind{};
  std::string detail;
};

// Wraps a reason so that a Result can be made from it: `return Fail(reason);`.
template <class E>
struct Failed {
  E reason;
};

template <class E>
Failed<E> Fail(E reason) {
  return Failed<E>{std::move(reason)};
}

template <class T, class E>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
  template <class R>
  Result(Failed<R> failed)  // NOLINT: implicit
      : state_(std::in_place_index<1>, E(std::move(failed.reason))) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // Only when ok().
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  // Only when !ok().
  const E& error() const { return std::get<1>(state_); }
  E& error() { return std::get<1>(state_); }

 private:
  std::variant<T, E> state_;
};

// Nothing to hand back but success.
struct Done {};

template <class E>
using Status = Result<Done, E>;

}  // namespace quarnel
