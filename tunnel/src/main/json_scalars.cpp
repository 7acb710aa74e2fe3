// The scalars of a JSON document: literals, strings and their escapes, numbers and their
// ranges, and how a value found in the wrong place is quoted in the message.
#include <algorithm>
#include <charconv>

#include "main/json_reader.hpp"
#include "main/number_text.hpp"

namespace ferroglade {

struct JsonReader::Number {
  enum class Kind { unsigned_integer, negative_integer, floating };
  Kind kind = Kind::unsigned_integer;
  std::uint64_t unsigned_value = 0;
  std::int64_t negative_value = 0;
  double floating_value = 0;
};

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

}  // namespace

Status JsonReader::scan_literal(std::string_view rest) {
  for (const char expected : rest) {
    // Cut off by the end of input, a literal is a value still missing rather than a wrong word.
    if (at_end()) {
      return error_at(EOF_VALUE, pos_);
    }
    if (input_[pos_++] != expected) {
      return error_at("expected ident", pos_);
    }
  }
  return {};
}

std::size_t JsonReader::raw_string_length() const {
  std::size_t end = pos_;
  while (end < input_.size() && input_[end] != '"') {
    end += input_[end] == '\\' ? 2 : 1;
  }
  return std::min(end, input_.size()) - pos_;
}

Status JsonReader::scan_string(std::string* out) {
  if (out != nullptr) {
    out->clear();
    out->reserve(raw_string_length());
  }
  std::size_t chunk = pos_;
  while (true) {
    while (!at_end()) {
      const auto c = static_cast<unsigned char>(input_[pos_]);
      if (c == '"' || c == '\\' || c < 0x20) {
        break;
      }
      ++pos_;
    }
    if (at_end()) {
      return error_at(EOF_STRING, pos_);
    }
    if (out != nullptr) {
      out->append(input_.substr(chunk, pos_ - chunk));
    }
    const char c = input_[pos_++];
    if (c == '"') {
      return {};
    }
    if (c != '\\') {
      return error_at("control character (\\u0000-\\u001F) found while parsing a string", pos_);
    }
    if (Status escaped = scan_escape(out); !escaped) {
      return escaped;
    }
    chunk = pos_;
  }
}

Status JsonReader::scan_escape(std::string* out) {
  if (at_end()) {
    return error_at(EOF_STRING, pos_);
  }
  char decoded = 0;
  switch (input_[pos_++]) {
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
      return scan_unicode_escape(out);
    default:
      return error_at(INVALID_ESCAPE, pos_);
  }
  if (out != nullptr) {
    *out += decoded;
  }
  return {};
}

Result<std::uint16_t> JsonReader::scan_hex4() {
  // With fewer than four bytes left the string can no longer close; that outranks a bad digit.
  if (input_.size() - pos_ < 4) {
    pos_ = input_.size();
    return error_at(EOF_STRING, pos_);
  }
  std::uint16_t value = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = hex_digit_value(input_[pos_++]);
    if (digit < 0) {
      return error_at(INVALID_ESCAPE, pos_);
    }
    value = static_cast<std::uint16_t>(value << 4 | digit);
  }
  return value;
}

Status JsonReader::scan_unicode_escape(std::string* out) {
  Result<std::uint16_t> first = scan_hex4();
  if (!first) {
    return std::move(first).error();
  }
  char32_t code = first.value();
  // One text for every unpaired surrogate, trailing ones included, as callers know it.
  if (code >= 0xDC00 && code <= 0xDFFF) {
    return error_at(LONE_SURROGATE, pos_);
  }
  if (code >= 0xD800 && code <= 0xDBFF) {
    for (const char expected : std::string_view("\\u")) {
      if (at_end()) {
        return error_at(EOF_STRING, pos_);
      }
      if (input_[pos_++] != expected) {
        return error_at("unexpected end of hex escape", pos_);
      }
    }
    Result<std::uint16_t> second = scan_hex4();
    if (!second) {
      return std::move(second).error();
    }
    if (second.value() < 0xDC00 || second.value() > 0xDFFF) {
      return error_at(LONE_SURROGATE, pos_);
    }
    code = 0x10000 + ((code - 0xD800) << 10) + (second.value() - 0xDC00);
  }
  if (out != nullptr) {
    append_utf8(*out, code);
  }
  return {};
}

Result<bool> JsonReader::scan_number_text() {
  if (input_[pos_] == '-') {
    ++pos_;
  }
  // A digit is required at each of these three places. A number cut off there ("-", "1.", "1e")
  // is malformed, not a missing value.
  auto required_digit = [this]() -> Status {
    if (at_end() || !is_decimal_digit(input_[pos_++])) {
      return error_at(INVALID_NUMBER, pos_);
    }
    return {};
  };
  auto digits = [this] {
    while (!at_end() && is_decimal_digit(input_[pos_])) {
      ++pos_;
    }
  };
  if (Status digit = required_digit(); !digit) {
    return std::move(digit).error();
  }
  if (input_[pos_ - 1] == '0') {
    if (!at_end() && is_decimal_digit(input_[pos_])) {
      return peek_error(INVALID_NUMBER);
    }
  } else {
    digits();
  }
  bool integer = true;
  if (!at_end() && input_[pos_] == '.') {
    ++pos_;
    integer = false;
    if (Status digit = required_digit(); !digit) {
      return std::move(digit).error();
    }
    digits();
  }
  if (!at_end() && (input_[pos_] == 'e' || input_[pos_] == 'E')) {
    ++pos_;
    integer = false;
    if (!at_end() && (input_[pos_] == '+' || input_[pos_] == '-')) {
      ++pos_;
    }
    if (Status digit = required_digit(); !digit) {
      return std::move(digit).error();
    }
    digits();
  }
  return integer;
}

Result<JsonReader::Number> JsonReader::scan_number() {
  const std::size_t start = pos_;
  const bool negative = input_[pos_] == '-';
  Result<bool> integer = scan_number_text();
  if (!integer) {
    return std::move(integer).error();
  }
  // Integers outside both 64-bit ranges fall through to floating point.
  Number number;
  const char* first = input_.data() + start;
  const char* last = input_.data() + pos_;
  if (integer.value() && !negative) {
    const auto parsed = std::from_chars(first, last, number.unsigned_value);
    if (parsed.ec == std::errc()) {
      return number;
    }
  } else if (integer.value()) {
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
    if (overflows(input_.substr(start, pos_ - start))) {
      return error_at("number out of range", pos_);
    }
    // Too small in magnitude is a zero of the number's sign; only too large is refused.
    number.floating_value = negative ? -0.0 : 0.0;
  }
  return number;
}

std::string JsonReader::describe_number(const Number& number) {
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

Error JsonReader::invalid_type(std::string_view expectation) {
  // A scalar is read whole first, so its own syntax error wins and the type error stands after it.
  std::string found;
  switch (input_[pos_]) {
    case 'n':
    case 't':
    case 'f': {
      const char c = input_[pos_++];
      const std::string_view rest = c == 'n' ? "ull" : c == 't' ? "rue" : "alse";
      if (Status literal = scan_literal(rest); !literal) {
        return std::move(literal).error();
      }
      found = c == 'n' ? "null" : c == 't' ? "boolean `true`" : "boolean `false`";
      break;
    }
    case '"': {
      ++pos_;
      std::string text;
      if (Status string = scan_string(&text); !string) {
        return std::move(string).error();
      }
      found = "string " + quoted(text);
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
      if (!starts_number(input_[pos_])) {
        return peek_error("expected value");
      }
      Result<Number> number = scan_number();
      if (!number) {
        return std::move(number).error();
      }
      found = describe_number(number.value());
    }
  }
  std::string message = "invalid type: " + found + ", expected ";
  message += expectation;
  return fail_here(message);
}

Result<std::uint64_t> JsonReader::scan_unsigned(std::uint64_t max, std::string_view expectation) {
  if (!starts_number(input_[pos_])) {
    return invalid_type(expectation);
  }
  Result<Number> number = scan_number();
  if (!number) {
    return std::move(number).error();
  }
  if (number->kind == Number::Kind::unsigned_integer && number->unsigned_value <= max) {
    return number->unsigned_value;
  }
  // An integer of the wrong range is a wrong value; a floating-point number is a wrong type.
  std::string message = number->kind == Number::Kind::floating ? "invalid type: " : "invalid value: ";
  message += describe_number(number.value()) + ", expected ";
  message += expectation;
  return fail_here(message);
}

Status JsonReader::skip_scalar() {
  switch (input_[pos_]) {
    case 'n':
      ++pos_;
      return scan_literal("ull");
    case 't':
      ++pos_;
      return scan_literal("rue");
    case 'f':
      ++pos_;
      return scan_literal("alse");
    case '"':
      ++pos_;
      return scan_string(nullptr);
    default:
      break;
  }
  if (!starts_number(input_[pos_])) {
    return peek_error("expected value");
  }
  // Text only: a number too large for a double is no error in a skipped value.
  if (Result<bool> number = scan_number_text(); !number) {
    return std::move(number).error();
  }
  return {};
}

}  // namespace ferroglade
