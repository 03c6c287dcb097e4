#pragma once
// A value or an error, with std::expected's member names (g++ 12 has no std::expected).
// Errors cross the core's API as values; nothing in the core throws.

#include <type_traits>
#include <utility>
#include <variant>

namespace orvane {

// Wraps an error so that Result<T, E> can be built from it even when T and E convert
// into each other.
template <class E>
struct Unexpected {
  E error;
};
template <class E>
Unexpected(E) -> Unexpected<E>;

template <class T, class E>
class [[nodiscard]] Result {
 public:
  using value_type = T;
  using error_type = E;

  template <class U = T, std::enable_if_t<std::is_constructible_v<T, U&&> &&
                                              !std::is_same_v<std::decay_t<U>, Result> &&
                                              !std::is_same_v<std::decay_t<U>, Unexpected<E>>,
                                          int> = 0>
  Result(U&& value) : data_(std::in_place_index<0>, std::forward<U>(value)) {}  // NOLINT
  template <class G>
  Result(Unexpected<G> error)  // NOLINT
      : data_(std::in_place_index<1>, std::move(error.error)) {}
  template <class G, std::enable_if_t<std::is_constructible_v<E, G&&> &&
                                          !std::is_constructible_v<T, G&&> &&
                                          !std::is_same_v<std::decay_t<G>, Result>,
                                      int> = 0>
  Result(G&& error) : data_(std::in_place_index<1>, std::forward<G>(error)) {}  // NOLINT

  bool has_value() const noexcept { return data_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }

  T& value() & { return std::get<0>(data_); }
  const T& value() const& { return std::get<0>(data_); }
  T&& value() && { return std::get<0>(std::move(data_)); }
  E& error() & { return std::get<1>(data_); }
  const E& error() const& { return std::get<1>(data_); }
  E&& error() && { return std::get<1>(std::move(data_)); }

  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

 private:
  std::variant<T, E> data_;
};

}  // namespace orvane
