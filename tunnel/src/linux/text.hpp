#pragma once
// Unicode-aware text helpers shared by the tool runner, the probes and validation.

#include <string>
#include <string_view>
#include <vector>

namespace ferroglade {

/// True when `bytes` is well-formed UTF-8 (no overlongs, surrogates or values above U+10FFFF).
[[nodiscard]] bool is_valid_utf8(std::string_view bytes);

/// Decodes `bytes` as UTF-8, replacing each maximal invalid subpart with U+FFFD,
/// as the Unicode Standard recommends.
[[nodiscard]] std::string decode_utf8_lossy(std::string_view bytes);

/// Removes White_Space characters from both ends. Bytes that are not valid
/// UTF-8 are never white space, so they stop the trimming.
[[nodiscard]] std::string_view trim(std::string_view text);

/// Splits at runs of White_Space, dropping empty fields.
[[nodiscard]] std::vector<std::string_view> split_white_space(std::string_view text);

}  // namespace ferroglade
