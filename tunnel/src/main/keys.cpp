#include "main/keys.hpp"

#include <array>
#include <cstdint>
#include <optional>

#include "linux/text.hpp"

namespace ferroglade {
namespace {

constexpr char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::int8_t NOT_A_SYMBOL = -1;

// A lookup table rather than <cctype>, so that no locale can widen the alphabet.
constexpr std::array<std::int8_t, 256> make_symbol_values() {
  std::array<std::int8_t, 256> values{};
  values.fill(NOT_A_SYMBOL);
  for (int i = 0; i < 64; ++i) {
    values[static_cast<unsigned char>(ALPHABET[i])] = static_cast<std::int8_t>(i);
  }
  return values;
}

constexpr std::array<std::int8_t, 256> SYMBOL_VALUES = make_symbol_values();

int symbol_value(char c) { return SYMBOL_VALUES[static_cast<unsigned char>(c)]; }

/// Checks that `text` is canonical padded Base64 and gives the length it decodes to.
std::optional<std::size_t> decoded_length(std::string_view text) {
  if (text.size() % 4 != 0) {
    return std::nullopt;
  }
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') {
    padding = text[text.size() - 2] == '=' ? 2 : 1;
  }
  std::size_t symbols = text.size() - padding;
  for (std::size_t i = 0; i < symbols; ++i) {
    if (symbol_value(text[i]) == NOT_A_SYMBOL) {
      return std::nullopt;
    }
  }
  if (padding != 0) {
    // The bits of the last symbol beyond the final byte must be zero, or two texts
    // would decode to the same key.
    int unused_bits_mask = padding == 2 ? 0x0f : 0x03;
    if ((symbol_value(text[symbols - 1]) & unused_bits_mask) != 0) {
      return std::nullopt;
    }
  }
  return symbols / 4 * 3 + (padding == 0 ? 0 : 3 - padding);
}

}  // namespace

Status check_key(std::string_view text) {
  const std::optional<std::size_t> length = decoded_length(trim(text));
  if (!length) {
    return fail("bad key");
  }
  if (*length != KEY_LENGTH) {
    return fail("bad key length");
  }
  return {};
}

}  // namespace ferroglade
