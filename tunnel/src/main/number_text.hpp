#pragma once
// How numbers found in a document are written back in messages.

#include <string>

namespace ferroglade {

/// The shortest digits that read back as `value`. Positional, with ".0" added to whole values,
/// when `value` is zero or 1e-5 <= |value| < 1e16 ("1420.0", "1.5", "-0.0", "0.00001");
/// exponent form otherwise, without "+" or leading zeros in the exponent ("1e20", "1.5e-7").
[[nodiscard]] std::string float_text(double value);

}  // namespace ferroglade
