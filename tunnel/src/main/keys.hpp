#pragma once
// Strict Base64 for WireGuard keys.

#include <cstddef>
#include <string_view>

#include "linux/result.hpp"

namespace ferroglade {

inline constexpr std::size_t KEY_LENGTH = 32;

/// Trims, then checks that the text is canonical standard Base64 (padding required,
/// unused bits zero) of KEY_LENGTH bytes. Errors: "bad key" for any violation, "bad key
/// length" for another length.
[[nodiscard]] Status check_key(std::string_view text);

}  // namespace ferroglade
