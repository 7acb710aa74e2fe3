#pragma once
// The scalars of a JSON document, read at a byte offset of its text: literals, strings and
// numbers. A failure carries the offset it stands at; lines and columns are the grammar's.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace ferroglade {

/// Raised by the scalars for a literal cut off by the end of the input, and by the grammar
/// wherever else the input ends before a value.
inline constexpr std::string_view EOF_VALUE = "EOF while parsing a value";

/// A failed scan: its message and the byte offset the message is positioned at.
struct ScanError {
  std::string message;
  std::size_t offset = 0;
};

/// Empty when the scan succeeded.
using ScanFailure = std::optional<ScanError>;

/// The scanned value, or the failure.
template <typename T>
using Scanned = std::variant<T, ScanError>;

// Every scan starts with `pos` on the scalar's first byte (unless it says otherwise), which
// must exist, and on success leaves `pos` just after the scalar. After a failure `pos` is
// unspecified: the first error ends the reading.

/// null, true or false, from the first byte, which is n, t or f.
[[nodiscard]] ScanFailure scan_literal(std::string_view text, std::size_t& pos);

/// A string from just after its opening quote through the closing one. Unless `out` is null,
/// the string is decoded into it, after clearing it and reserving the escaped length so that
/// it never reallocates while decoding.
[[nodiscard]] ScanFailure scan_string(std::string_view text, std::size_t& pos, std::string* out);

/// An integer from 0 to `max`. A larger one up to 2^64 - 1, or a negative one down to -2^63,
/// gives "invalid value: integer `<n>`, expected <expectation>"; any other number, integers
/// beyond those ranges included, "invalid type: floating point `<x>`, expected <expectation>"
/// (or "number out of range" beyond a double's range); other values the failure of
/// scan_type_error.
[[nodiscard]] Scanned<std::uint64_t> scan_unsigned(std::string_view text, std::size_t& pos, std::uint64_t max,
                                                   std::string_view expectation);

/// "invalid type: <found>, expected <expectation>" for the value at `pos`, positioned after it
/// when it is a scalar and before it when it is an array or object; or the syntax error met
/// while reading it, which comes first.
[[nodiscard]] ScanError scan_type_error(std::string_view text, std::size_t pos, std::string_view expectation);

/// A literal, string or number, for syntax only.
[[nodiscard]] ScanFailure skip_scalar(std::string_view text, std::size_t& pos);

}  // namespace ferroglade
