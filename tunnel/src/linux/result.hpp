#pragma once
// Errors are values: every fallible operation returns a Result or a Status.

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace ferroglade {

/// One failure text, without a trailing line feed.
struct Error {
  std::string text;
};

/// A value of T, or an Error.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}      // NOLINT(google-explicit-constructor)
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT(google-explicit-constructor)

  [[nodiscard]] bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  /// Only valid when !ok().
  [[nodiscard]] const Error& error() const& { return std::get<1>(state_); }
  [[nodiscard]] Error&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, Error> state_;
};

/// Success, or an Error.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)) {}  // NOLINT(google-explicit-constructor)

  [[nodiscard]] bool ok() const { return !error_.has_value(); }
  explicit operator bool() const { return ok(); }

  /// Only valid when !ok().
  [[nodiscard]] const Error& error() const& { return *error_; }
  [[nodiscard]] Error&& error() && { return std::move(*error_); }

 private:
  std::optional<Error> error_;
};

/// Shorthand for an Error with just a text.
[[nodiscard]] inline Error fail(std::string text) { return Error{std::move(text)}; }

}  // namespace ferroglade
