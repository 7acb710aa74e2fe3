#pragma once
// Digits in text, and how numbers found in a document are written back in messages.

#include <string>

namespace ferroglade {

/// True for the ASCII digits 0 to 9 only, whatever the locale.
[[nodiscard]] constexpr bool is_decimal_digit(char c) { return c >= '0' && c <= '9'; }

/// The value of an ASCII hexadecimal digit of either letter case, or -1 for any other character.
[[nodiscard]] constexpr int hex_digit_value(char c) {
  if (is_decimal_digit(c)) {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

/// The shortest digits that read back as `value`. Positional, with ".0" added to whole values,
/// when `value` is zero or 1e-5 <= |value| < 1e16 ("1420.0", "1.5", "-0.0", "0.00001");
/// exponent form otherwise, without "+" or leading zeros in the exponent ("1e20", "1.5e-7").
[[nodiscard]] std::string float_text(double value);

}  // namespace ferroglade
