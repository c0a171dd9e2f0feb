// Owns one system resource (a file descriptor, a kernel handle) and releases it once.
// `Traits` gives the type, its "none" value, whether a value is a real one, and how to close it.
#pragma once

#include <utility>

namespace quarnel {

template <class Traits>
class UniqueResource {
 public:
  using Value = typename Traits::Value;

  UniqueResource() = default;
  explicit UniqueResource(Value value) : value_(value) {}
  ~UniqueResource() { reset(); }
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  Value get() const { return value_; }
  bool valid() const { return Traits::Valid(value_); }
  Value release() { return std::exchange(value_, Traits::None()); }
  void reset(Value value = Traits::None()) {
    if (valid()) Traits::Close(value_);
    value_ = value;
  }

 private:
  Value value_ = Traits::None();
};

}  // namespace quarnel
