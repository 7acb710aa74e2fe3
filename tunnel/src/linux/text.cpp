#include "linux/text.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace ferroglade {
namespace {

constexpr char32_t NO_CHARACTER = 0xFFFFFFFF;

/// One step of decoding: the character found (NO_CHARACTER for an invalid
/// subpart) and how many bytes it takes. `length` is never 0.
struct Decoded {
  char32_t character;
  std::size_t length;
};

/// Decodes at the start of `bytes` (not empty). An invalid sequence yields its
/// maximal subpart: the longest prefix of a well-formed sequence, or one byte.
Decoded decode_one(std::string_view bytes) {
  const auto lead = static_cast<std::uint8_t>(bytes[0]);
  if (lead < 0x80) {
    return {lead, 1};
  }
  std::size_t length = 0;
  char32_t character = 0;
  // The allowed range of the second byte is what rules out overlongs,
  // surrogates and values above U+10FFFF.
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    character = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    character = lead & 0x0F;
    if (lead == 0xE0) {
      low = 0xA0;
    } else if (lead == 0xED) {
      high = 0x9F;
    }
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    character = lead & 0x07;
    if (lead == 0xF0) {
      low = 0x90;
    } else if (lead == 0xF4) {
      high = 0x8F;
    }
  } else {
    return {NO_CHARACTER, 1};
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i >= bytes.size()) {
      return {NO_CHARACTER, i};
    }
    const auto byte = static_cast<std::uint8_t>(bytes[i]);
    if (byte < low || byte > high) {
      return {NO_CHARACTER, i};
    }
    character = (character << 6) | (byte & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  return {character, length};
}

/// True for the characters with the Unicode White_Space property.
bool is_white_space(char32_t c) {
  switch (c) {
    case 0x0020:
    case 0x0085:
    case 0x00A0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return (c >= 0x0009 && c <= 0x000D) || (c >= 0x2000 && c <= 0x200A);
  }
}

bool is_white_space_at(std::string_view bytes, std::size_t& length) {
  const Decoded decoded = decode_one(bytes);
  length = decoded.length;
  return decoded.character != NO_CHARACTER && is_white_space(decoded.character);
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  while (!bytes.empty()) {
    const Decoded decoded = decode_one(bytes);
    if (decoded.character == NO_CHARACTER) {
      return false;
    }
    bytes.remove_prefix(decoded.length);
  }
  return true;
}

std::string decode_utf8_lossy(std::string_view bytes) {
  static constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";
  std::string text;
  text.reserve(bytes.size());
  while (!bytes.empty()) {
    const Decoded decoded = decode_one(bytes);
    if (decoded.character == NO_CHARACTER) {
      text += REPLACEMENT;
    } else {
      text.append(bytes.data(), decoded.length);
    }
    bytes.remove_prefix(decoded.length);
  }
  return text;
}

std::string_view trim(std::string_view text) {
  // A forward scan only: UTF-8 cannot be decoded reliably from the end when
  // invalid bytes may sit in front of a character.
  std::size_t begin = text.size();
  std::size_t end = 0;
  std::size_t position = 0;
  while (position < text.size()) {
    std::size_t length = 0;
    if (!is_white_space_at(text.substr(position), length)) {
      begin = std::min(begin, position);
      end = position + length;
    }
    position += length;
  }
  if (begin >= end) {
    return text.substr(text.size());
  }
  return text.substr(begin, end - begin);
}

std::vector<std::string_view> split_white_space(std::string_view text) {
  std::vector<std::string_view> fields;
  std::size_t field_begin = 0;
  bool in_field = false;
  std::size_t position = 0;
  while (position < text.size()) {
    std::size_t length = 0;
    const bool white = is_white_space_at(text.substr(position), length);
    if (white && in_field) {
      fields.push_back(text.substr(field_begin, position - field_begin));
      in_field = false;
    } else if (!white && !in_field) {
      field_begin = position;
      in_field = true;
    }
    position += length;
  }
  if (in_field) {
    fields.push_back(text.substr(field_begin));
  }
  return fields;
}

}  // namespace ferroglade
