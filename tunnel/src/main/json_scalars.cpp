// The scalars of a JSON document: literals, strings and their escapes, numbers and their
// ranges, and how a value found in the wrong place is quoted in the message.
#include <algorithm>
#include <charconv>

#include "main/json_scalars.hpp"
#include "main/number_text.hpp"

namespace ferroglade {
namespace {

constexpr std::string_view EOF_STRING = "EOF while parsing a string";
constexpr std::string_view INVALID_NUMBER = "invalid number";
constexpr std::string_view INVALID_ESCAPE = "invalid escape";
constexpr std::string_view LONE_SURROGATE = "lone leading surrogate in hex escape";

bool starts_number(char c) { return c == '-' || is_decimal_digit(c); }

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Written as \0 and \u{1f}, not as JSON escapes: callers match the quoted texts as they are.
void append_escaped(std::string& out, unsigned code) {
  static constexpr char HEX[] = "0123456789abcdef";
  switch (code) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\n':
      out += "\\n";
      break;
    case 0:
      out += "\\0";
      break;
    default:
      out += "\\u{";
      if (code >= 0x10) {
        out += HEX[code >> 4];
      }
      out += HEX[code & 0xF];
      out += '}';
  }
}

// A string found where something else was expected, quoted with backslash escapes for the
// quote, the backslash and the control characters.
std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0U;
    // C1 controls arrive as the two bytes C2 80..C2 9F.
    if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
      append_escaped(out, next);
      ++i;
    } else if (c < 0x20 || c == 0x7F || c == '"' || c == '\\') {
      append_escaped(out, c);
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
  return out;
}

// Whether an out-of-range number is too large (true) or too small (false): the decimal
// exponent of its first significant digit decides.
bool overflows(std::string_view text) {
  if (!text.empty() && text.front() == '-') {
    text.remove_prefix(1);
  }
  const std::size_t marker = text.find_first_of("eE");
  const std::string_view mantissa = text.substr(0, marker);
  std::int64_t exponent = 0;
  if (marker != std::string_view::npos) {
    std::string_view digits = text.substr(marker + 1);
    const bool negative = !digits.empty() && digits.front() == '-';
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
      digits.remove_prefix(1);
    }
    for (const char c : digits) {
      exponent = std::min<std::int64_t>(exponent * 10 + (c - '0'), 1'000'000'000);
    }
    exponent = negative ? -exponent : exponent;
  }
  const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  const std::size_t first = mantissa.find_first_of("123456789");
  if (first == std::string_view::npos) {
    return false;
  }
  const auto place =
      first < point ? static_cast<std::int64_t>(point - first - 1) : -static_cast<std::int64_t>(first - point);
  return place + exponent > 0;
}

struct Number {
  enum class Kind { unsigned_integer, negative_integer, floating };
  Kind kind = Kind::unsigned_integer;
  std::uint64_t unsigned_value = 0;
  std::int64_t negative_value = 0;
  double floating_value = 0;
};

ScanError failure_at(std::string_view message, std::size_t offset) { return {std::string(message), offset}; }

// Positioned just after the byte at `pos` (or at the end of the input).
ScanError peek_failure(std::string_view text, std::size_t pos, std::string_view message) {
  return failure_at(message, std::min(pos + 1, text.size()));
}

// After a literal's first byte: the rest of null, true or false.
ScanFailure scan_literal_rest(std::string_view text, std::size_t& pos, std::string_view rest) {
  for (const char expected : rest) {
    // Cut off by the end of input, a literal is a value still missing rather than a wrong word.
    if (pos == text.size()) {
      return failure_at(EOF_VALUE, pos);
    }
    if (text[pos++] != expected) {
      return failure_at("expected ident", pos);
    }
  }
  return {};
}

// The escaped length of the string from `pos` on: a bound on its decoded length.
std::size_t raw_string_length(std::string_view text, std::size_t pos) {
  std::size_t end = pos;
  while (end < text.size() && text[end] != '"') {
    end += text[end] == '\\' ? 2 : 1;
  }
  return std::min(end, text.size()) - pos;
}

Scanned<std::uint16_t> scan_hex4(std::string_view text, std::size_t& pos) {
  // With fewer than four bytes left the string can no longer close; that outranks a bad digit.
  if (text.size() - pos < 4) {
    return failure_at(EOF_STRING, text.size());
  }
  std::uint16_t value = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = hex_digit_value(text[pos++]);
    if (digit < 0) {
      return failure_at(INVALID_ESCAPE, pos);
    }
    value = static_cast<std::uint16_t>(value << 4 | digit);
  }
  return value;
}

// After "\u": one escape, or the two of a surrogate pair, appended as UTF-8.
ScanFailure scan_unicode_escape(std::string_view text, std::size_t& pos, std::string* out) {
  Scanned<std::uint16_t> first = scan_hex4(text, pos);
  if (auto* failure = std::get_if<ScanError>(&first)) {
    return std::move(*failure);
  }
  char32_t code = std::get<std::uint16_t>(first);
  // One text for every unpaired surrogate, trailing ones included, as callers know it.
  if (code >= 0xDC00 && code <= 0xDFFF) {
    return failure_at(LONE_SURROGATE, pos);
  }
  if (code >= 0xD800 && code <= 0xDBFF) {
    for (const char expected : std::string_view("\\u")) {
      if (pos == text.size()) {
        return failure_at(EOF_STRING, pos);
      }
      if (text[pos++] != expected) {
        return failure_at("unexpected end of hex escape", pos);
      }
    }
    Scanned<std::uint16_t> second = scan_hex4(text, pos);
    if (auto* failure = std::get_if<ScanError>(&second)) {
      return std::move(*failure);
    }
    const std::uint16_t low = std::get<std::uint16_t>(second);
    if (low < 0xDC00 || low > 0xDFFF) {
      return failure_at(LONE_SURROGATE, pos);
    }
    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
  }
  if (out != nullptr) {
    append_utf8(*out, code);
  }
  return {};
}

// After a backslash.
ScanFailure scan_escape(std::string_view text, std::size_t& pos, std::string* out) {
  if (pos == text.size()) {
    return failure_at(EOF_STRING, pos);
  }
  char decoded = 0;
  switch (text[pos++]) {
    case '"':
      decoded = '"';
      break;
    case '\\':
      decoded = '\\';
      break;
    case '/':
      decoded = '/';
      break;
    case 'b':
      decoded = '\b';
      break;
    case 'f':
      decoded = '\f';
      break;
    case 'n':
      decoded = '\n';
      break;
    case 'r':
      decoded = '\r';
      break;
    case 't':
      decoded = '\t';
      break;
    case 'u':
      return scan_unicode_escape(text, pos, out);
    default:
      return failure_at(INVALID_ESCAPE, pos);
  }
  if (out != nullptr) {
    *out += decoded;
  }
  return {};
}

// Consumes a number's text; true when it has neither fraction nor exponent.
Scanned<bool> scan_number_text(std::string_view text, std::size_t& pos) {
  if (text[pos] == '-') {
    ++pos;
  }
  // A digit is required at each of these three places. A number cut off there ("-", "1.", "1e")
  // is malformed, not a missing value.
  auto required_digit = [&]() -> ScanFailure {
    if (pos == text.size() || !is_decimal_digit(text[pos++])) {
      return failure_at(INVALID_NUMBER, pos);
    }
    return {};
  };
  auto digits = [&] {
    while (pos < text.size() && is_decimal_digit(text[pos])) {
      ++pos;
    }
  };
  if (ScanFailure failure = required_digit()) {
    return std::move(*failure);
  }
  if (text[pos - 1] == '0') {
    if (pos < text.size() && is_decimal_digit(text[pos])) {
      return peek_failure(text, pos, INVALID_NUMBER);
    }
  } else {
    digits();
  }
  bool integer = true;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    integer = false;
    if (ScanFailure failure = required_digit()) {
      return std::move(*failure);
    }
    digits();
  }
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    integer = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
      ++pos;
    }
    if (ScanFailure failure = required_digit()) {
      return std::move(*failure);
    }
    digits();
  }
  return integer;
}

Scanned<Number> scan_number(std::string_view text, std::size_t& pos) {
  const std::size_t start = pos;
  const bool negative = text[pos] == '-';
  Scanned<bool> integer = scan_number_text(text, pos);
  if (auto* failure = std::get_if<ScanError>(&integer)) {
    return std::move(*failure);
  }
  // Integers outside both 64-bit ranges fall through to floating point.
  Number number;
  const char* first = text.data() + start;
  const char* last = text.data() + pos;
  if (std::get<bool>(integer) && !negative) {
    const auto parsed = std::from_chars(first, last, number.unsigned_value);
    if (parsed.ec == std::errc()) {
      return number;
    }
  } else if (std::get<bool>(integer)) {
    // -0 is not a negative integer; it stays a floating-point value.
    const auto parsed = std::from_chars(first, last, number.negative_value);
    if (parsed.ec == std::errc() && number.negative_value != 0) {
      number.kind = Number::Kind::negative_integer;
      return number;
    }
  }
  number.kind = Number::Kind::floating;
  const auto parsed = std::from_chars(first, last, number.floating_value);
  if (parsed.ec == std::errc::result_out_of_range) {
    if (overflows(text.substr(start, pos - start))) {
      return failure_at("number out of range", pos);
    }
    // Too small in magnitude is a zero of the number's sign; only too large is refused.
    number.floating_value = negative ? -0.0 : 0.0;
  }
  return number;
}

// "integer `<n>`" or "floating point `<x>`", as the number is named in messages.
std::string describe_number(const Number& number) {
  switch (number.kind) {
    case Number::Kind::unsigned_integer:
      return "integer `" + std::to_string(number.unsigned_value) + "`";
    case Number::Kind::negative_integer:
      return "integer `" + std::to_string(number.negative_value) + "`";
    case Number::Kind::floating:
      break;
  }
  return "floating point `" + float_text(number.floating_value) + "`";
}

}  // namespace

ScanFailure scan_literal(std::string_view text, std::size_t& pos) {
  const char first = text[pos++];
  return scan_literal_rest(text, pos, first == 'n' ? "ull" : first == 't' ? "rue" : "alse");
}

ScanFailure scan_string(std::string_view text, std::size_t& pos, std::string* out) {
  if (out != nullptr) {
    out->clear();
    out->reserve(raw_string_length(text, pos));
  }
  // A local cursor: a write into `out` could otherwise alias `pos` and force it back to memory.
  std::size_t at = pos;
  std::size_t chunk = at;
  while (true) {
    while (at < text.size()) {
      const auto c = static_cast<unsigned char>(text[at]);
      if (c == '"' || c == '\\' || c < 0x20) {
        break;
      }
      ++at;
    }
    if (at == text.size()) {
      return failure_at(EOF_STRING, at);
    }
    if (out != nullptr) {
      out->append(text.substr(chunk, at - chunk));
    }
    const char c = text[at++];
    if (c == '"') {
      pos = at;
      return {};
    }
    if (c != '\\') {
      return failure_at("control character (\\u0000-\\u001F) found while parsing a string", at);
    }
    if (ScanFailure failure = scan_escape(text, at, out)) {
      return failure;
    }
    chunk = at;
  }
}

ScanError scan_type_error(std::string_view text, std::size_t pos, std::string_view expectation) {
  std::string found;
  switch (text[pos]) {
    case 'n':
    case 't':
    case 'f': {
      const char c = text[pos];
      if (ScanFailure failure = scan_literal(text, pos)) {
        return std::move(*failure);
      }
      found = c == 'n' ? "null" : c == 't' ? "boolean `true`" : "boolean `false`";
      break;
    }
    case '"': {
      ++pos;
      std::string string;
      if (ScanFailure failure = scan_string(text, pos, &string)) {
        return std::move(*failure);
      }
      found = "string " + quoted(string);
      break;
    }
    // Containers are not walked, so their end is unknown: the error stands before the bracket.
    case '[':
      found = "sequence";
      break;
    case '{':
      found = "map";
      break;
    default: {
      if (!starts_number(text[pos])) {
        return peek_failure(text, pos, "expected value");
      }
      Scanned<Number> number = scan_number(text, pos);
      if (auto* failure = std::get_if<ScanError>(&number)) {
        return std::move(*failure);
      }
      found = describe_number(std::get<Number>(number));
    }
  }
  std::string message = "invalid type: " + found + ", expected ";
  message += expectation;
  return {std::move(message), pos};
}

Scanned<std::uint64_t> scan_unsigned(std::string_view text, std::size_t& pos, std::uint64_t max,
                                     std::string_view expectation) {
  if (!starts_number(text[pos])) {
    return scan_type_error(text, pos, expectation);
  }
  Scanned<Number> scanned = scan_number(text, pos);
  if (auto* failure = std::get_if<ScanError>(&scanned)) {
    return std::move(*failure);
  }
  const Number& number = std::get<Number>(scanned);
  if (number.kind == Number::Kind::unsigned_integer && number.unsigned_value <= max) {
    return number.unsigned_value;
  }
  // An integer of the wrong range is a wrong value; a floating-point number is a wrong type.
  std::string message = number.kind == Number::Kind::floating ? "invalid type: " : "invalid value: ";
  message += describe_number(number) + ", expected ";
  message += expectation;
  return ScanError{std::move(message), pos};
}

ScanFailure skip_scalar(std::string_view text, std::size_t& pos) {
  switch (text[pos]) {
    case 'n':
    case 't':
    case 'f':
      return scan_literal(text, pos);
    case '"':
      ++pos;
      return scan_string(text, pos, nullptr);
    default:
      break;
  }
  if (!starts_number(text[pos])) {
    return peek_failure(text, pos, "expected value");
  }
  // Text only: a number too large for a double is no error in a skipped value.
  if (Scanned<bool> number = scan_number_text(text, pos); std::holds_alternative<ScanError>(number)) {
    return std::get<ScanError>(std::move(number));
  }
  return {};
}

}  // namespace ferroglade
