// The grammar of a JSON document: the cursor and its positions, the caller's typed requests,
// and the walk over values nobody asked for.
#include <algorithm>
#include <vector>

#include "main/json_reader.hpp"
#include "main/json_scalars.hpp"

namespace ferroglade {
namespace {

constexpr std::string_view EOF_OBJECT = "EOF while parsing an object";
constexpr std::string_view EOF_LIST = "EOF while parsing a list";

}  // namespace

// One bit per open bracket: set for "{", clear for "[".
class JsonReader::BracketStack {
 public:
  void push(bool object) {
    if (depth_ % 64 == 0) {
      words_.push_back(0);
    }
    if (object) {
      words_.back() |= std::uint64_t{1} << (depth_ % 64);
    }
    ++depth_;
  }
  void pop() {
    --depth_;
    words_.back() &= ~(std::uint64_t{1} << (depth_ % 64));
    if (depth_ % 64 == 0) {
      words_.pop_back();
    }
  }
  [[nodiscard]] bool empty() const { return depth_ == 0; }
  [[nodiscard]] bool top_is_object() const { return ((words_.back() >> ((depth_ - 1) % 64)) & 1) != 0; }

 private:
  std::vector<std::uint64_t> words_;
  std::size_t depth_ = 0;
};

Error JsonReader::error_at(std::string_view message, std::size_t offset) const {
  const std::string_view before = input_.substr(0, offset);
  const auto line = 1 + std::count(before.begin(), before.end(), '\n');
  const std::size_t line_start = before.rfind('\n');
  const std::size_t column = line_start == std::string_view::npos ? offset : offset - line_start - 1;
  std::string text(message);
  text += " at line " + std::to_string(line) + " column " + std::to_string(column);
  return fail(std::move(text));
}

Error JsonReader::error_at(const ScanError& failure) const { return error_at(failure.message, failure.offset); }

Error JsonReader::peek_error(std::string_view message) const {
  return error_at(message, std::min(pos_ + 1, input_.size()));
}

void JsonReader::skip_white_space() {
  while (!at_end()) {
    const char c = input_[pos_];
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
      return;
    }
    ++pos_;
  }
}

// Inline: it precedes every token, each bracket of a skipped value included.
inline Status JsonReader::skip_to_token(std::string_view eof_message) {
  skip_white_space();
  if (at_end()) {
    return error_at(eof_message, pos_);
  }
  return {};
}

Result<char> JsonReader::begin_array_or_object(std::string_view expectation) {
  if (Status token = skip_to_token(EOF_VALUE); !token) {
    return std::move(token).error();
  }
  const char c = input_[pos_];
  if (c != '[' && c != '{') {
    return error_at(scan_type_error(input_, pos_, expectation));
  }
  ++pos_;
  return c;
}

Status JsonReader::separator(char close) {
  ++pos_;
  // Past a comma something must follow, so an end here is a missing value, in objects too.
  if (Status token = skip_to_token(EOF_VALUE); !token) {
    return token;
  }
  // The comma is known to be trailing only once the bracket is seen, so the bracket is blamed.
  if (input_[pos_] == close) {
    return peek_error("trailing comma");
  }
  return {};
}

Status JsonReader::begin_array(std::string_view expectation) {
  if (Status token = skip_to_token(EOF_VALUE); !token) {
    return token;
  }
  if (input_[pos_] != '[') {
    return error_at(scan_type_error(input_, pos_, expectation));
  }
  ++pos_;
  return {};
}

Result<bool> JsonReader::next_element(bool first) {
  if (Status token = skip_to_token(EOF_LIST); !token) {
    return std::move(token).error();
  }
  const char c = input_[pos_];
  if (c == ']') {
    ++pos_;
    return false;
  }
  if (first) {
    return true;
  }
  if (c != ',') {
    return peek_error("expected `,` or `]`");
  }
  if (Status next = separator(']'); !next) {
    return std::move(next).error();
  }
  return true;
}

Status JsonReader::end_array() {
  if (Status token = skip_to_token(EOF_LIST); !token) {
    return token;
  }
  const char c = input_[pos_];
  if (c == ']') {
    ++pos_;
    return {};
  }
  if (c == ',') {
    ++pos_;
    skip_white_space();
    if (!at_end() && input_[pos_] == ']') {
      return peek_error("trailing comma");
    }
  }
  // An element the caller does not want is surplus input, like text after the document.
  return peek_error("trailing characters");
}

Result<bool> JsonReader::next_member(bool first, std::string& name) {
  if (Status token = skip_to_token(EOF_OBJECT); !token) {
    return std::move(token).error();
  }
  const char c = input_[pos_];
  if (c == '}') {
    ++pos_;
    return false;
  }
  if (!first) {
    if (c != ',') {
      return peek_error("expected `,` or `}`");
    }
    if (Status next = separator('}'); !next) {
      return std::move(next).error();
    }
  }
  if (input_[pos_] != '"') {
    return peek_error("key must be a string");
  }
  ++pos_;
  if (ScanFailure failure = scan_string(input_, pos_, &name)) {
    return error_at(*failure);
  }
  return true;
}

Status JsonReader::member_colon() {
  if (Status token = skip_to_token(EOF_OBJECT); !token) {
    return token;
  }
  if (input_[pos_] != ':') {
    return peek_error("expected `:`");
  }
  ++pos_;
  return {};
}

Status JsonReader::read_string(std::string& out, std::string_view expectation) {
  if (Status token = skip_to_token(EOF_VALUE); !token) {
    return token;
  }
  if (input_[pos_] != '"') {
    return error_at(scan_type_error(input_, pos_, expectation));
  }
  ++pos_;
  if (ScanFailure failure = scan_string(input_, pos_, &out)) {
    return error_at(*failure);
  }
  return {};
}

Result<bool> JsonReader::read_optional_string(std::string& out, std::string_view expectation) {
  skip_white_space();
  if (!at_end() && input_[pos_] == 'n') {
    if (ScanFailure failure = scan_literal(input_, pos_)) {
      return error_at(*failure);
    }
    return false;
  }
  if (Status read = read_string(out, expectation); !read) {
    return std::move(read).error();
  }
  return true;
}

Result<std::uint64_t> JsonReader::read_unsigned(std::uint64_t max, std::string_view expectation) {
  if (Status token = skip_to_token(EOF_VALUE); !token) {
    return std::move(token).error();
  }
  Scanned<std::uint64_t> value = scan_unsigned(input_, pos_, max, expectation);
  if (const auto* failure = std::get_if<ScanError>(&value)) {
    return error_at(*failure);
  }
  return std::get<std::uint64_t>(value);
}

Result<bool> JsonReader::skip_to_next_element(BracketStack& open, bool after_value) {
  // After a value a comma or a closing bracket follows; after an opening bracket, a closing
  // bracket or the first element.
  while (true) {
    // Not skip_to_token: picking the message before the input has ended slows skipping measurably.
    skip_white_space();
    if (at_end()) {
      return error_at(open.top_is_object() ? EOF_OBJECT : EOF_LIST, pos_);
    }
    const char c = input_[pos_];
    // No trailing-comma check here: a comma before a closing bracket fails as the missing value
    // or name it leaves.
    if (after_value && c == ',') {
      ++pos_;
      return true;
    }
    if (c != (open.top_is_object() ? '}' : ']')) {
      if (after_value) {
        return peek_error(open.top_is_object() ? "expected `,` or `}`" : "expected `,` or `]`");
      }
      return false;
    }
    ++pos_;
    open.pop();
    if (open.empty()) {
      return false;
    }
    after_value = true;
  }
}

Status JsonReader::skip_member_name(bool after_comma) {
  if (Status token = skip_to_token(after_comma ? EOF_VALUE : EOF_OBJECT); !token) {
    return token;
  }
  if (input_[pos_] != '"') {
    return peek_error("key must be a string");
  }
  ++pos_;
  if (ScanFailure failure = scan_string(input_, pos_, nullptr)) {
    return error_at(*failure);
  }
  return member_colon();
}

Status JsonReader::skip_value() {
  BracketStack open;
  while (true) {
    if (Status token = skip_to_token(EOF_VALUE); !token) {
      return token;
    }
    const char c = input_[pos_];
    const bool opened = c == '[' || c == '{';
    if (opened) {
      open.push(c == '{');
      ++pos_;
    } else if (ScanFailure failure = skip_scalar(input_, pos_)) {
      return error_at(*failure);
    }
    if (open.empty()) {
      return {};
    }
    Result<bool> after_comma = skip_to_next_element(open, !opened);
    if (!after_comma) {
      return std::move(after_comma).error();
    }
    if (open.empty()) {
      return {};
    }
    if (open.top_is_object()) {
      if (Status name = skip_member_name(after_comma.value()); !name) {
        return name;
      }
    }
  }
}

Status JsonReader::end_document() {
  skip_white_space();
  if (!at_end()) {
    return peek_error("trailing characters");
  }
  return {};
}

}  // namespace ferroglade
