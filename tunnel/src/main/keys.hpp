#pragma once
// Strict Base64 for WireGuard keys.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "linux/result.hpp"

namespace ferroglade {

inline constexpr std::size_t KEY_LENGTH = 32;

/// Decoded key bytes, wiped when dropped.
class KeyBytes {
 public:
  KeyBytes() = default;
  KeyBytes(const KeyBytes& other) = default;
  KeyBytes& operator=(const KeyBytes& other) = default;
  ~KeyBytes();
  std::array<std::uint8_t, KEY_LENGTH> bytes{};
};

/// Trims, then decodes canonical standard Base64 (padding required, unused bits
/// zero). Errors: "bad key" for any violation, "bad key length" unless 32 bytes.
[[nodiscard]] Result<KeyBytes> decode_key(std::string_view text);

}  // namespace ferroglade
