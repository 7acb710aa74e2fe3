#include "main/number_text.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace ferroglade {

std::string float_text(double value) {
  if (std::isnan(value)) {
    return "NaN";
  }
  if (std::isinf(value)) {
    return value < 0 ? "-inf" : "inf";
  }
  if (value == 0) {
    return std::signbit(value) ? "-0.0" : "0.0";
  }

  // Scientific to_chars gives the shortest round-trip digits as "d.ddde[+-]XX".
  std::array<char, 64> buffer{};
  const auto written =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::scientific);
  const std::string_view text(buffer.data(), written.ptr - buffer.data());
  const std::size_t e = text.find('e');
  std::string digits;
  for (const char c : text.substr(0, e)) {
    if (is_decimal_digit(c)) {
      digits += c;
    }
  }
  int exponent = 0;
  std::string_view exponent_text = text.substr(e + 1);
  if (!exponent_text.empty() && exponent_text.front() == '+') {
    exponent_text.remove_prefix(1);
  }
  std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);

  std::string out = value < 0 ? "-" : "";
  const double magnitude = std::fabs(value);
  if (magnitude >= 1e-5 && magnitude < 1e16) {
    if (exponent < 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out += digits;
      return out;
    }
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= whole) {
      out += digits;
      out.append(whole - digits.size(), '0');
      out += ".0";
    } else {
      out.append(digits, 0, whole);
      out += '.';
      out.append(digits, whole);
    }
    return out;
  }
  out += digits.front();
  if (digits.size() > 1) {
    out += '.';
    out.append(digits, 1);
  }
  out += 'e';
  out += std::to_string(exponent);
  return out;
}

}  // namespace ferroglade
