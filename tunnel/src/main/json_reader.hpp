#pragma once
// Strict RFC 8259 reader with positioned messages: the grammar, which asks json_scalars for
// literals, strings and numbers.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "linux/result.hpp"

namespace ferroglade {

struct ScanError;

/// Walks one JSON document from its first byte, answering the requests of a caller that knows
/// the document's shape. Every error text is a message followed by " at line L column C", where
/// C counts bytes from the start of the line (0 at its very start). The first error ends the
/// reading; the reader must not be used after it. The input must outlive the reader.
class JsonReader {
 public:
  explicit JsonReader(std::string_view input) : input_(input) {}

  /// Consumes an opening "[" or "{" and returns it. Any other value gives
  /// "invalid type: <found>, expected <expectation>".
  [[nodiscard]] Result<char> begin_array_or_object(std::string_view expectation);

  /// Consumes an opening "["; any other value gives the type error as above.
  [[nodiscard]] Status begin_array(std::string_view expectation);

  /// Called before each element (`first` for the one right after "["): true when an element
  /// follows, false once the closing "]" has been consumed. A comma before "]" is "trailing comma".
  [[nodiscard]] Result<bool> next_element(bool first);

  /// For an array whose caller wants no more elements: consumes "]". A comma directly before "]"
  /// is "trailing comma"; any further element is "trailing characters".
  [[nodiscard]] Status end_array();

  /// Called before each member (`first` for the one right after "{"): true with the decoded
  /// name in `name` when a member follows (its ":" not yet read), false once "}" is consumed.
  [[nodiscard]] Result<bool> next_member(bool first, std::string& name);

  /// Consumes the ":" after a member's name.
  [[nodiscard]] Status member_colon();

  /// A string value, decoded into `out`, which is cleared and reserved to the escaped length up
  /// front so that it never reallocates while decoding.
  [[nodiscard]] Status read_string(std::string& out, std::string_view expectation);

  /// null gives false; a string is decoded into `out` as by read_string and gives true.
  [[nodiscard]] Result<bool> read_optional_string(std::string& out, std::string_view expectation);

  /// An integer from 0 to `max`. A larger one up to 2^64 - 1, or a negative one down to -2^63,
  /// gives "invalid value: integer `<n>`, expected ...". Integers beyond those ranges are read as
  /// floating point, so like fractions they give "invalid type: floating point `<x>`, expected
  /// ..." (2^64 as `1.8446744073709552e19`), or "number out of range" beyond a double's range.
  /// Other values give "invalid type: <found>, expected ...".
  [[nodiscard]] Result<std::uint64_t> read_unsigned(std::uint64_t max, std::string_view expectation);

  /// Walks any well-formed value for syntax only, at any depth, in memory of one bit per
  /// open bracket.
  [[nodiscard]] Status skip_value();

  /// Only white space may remain; otherwise "trailing characters".
  [[nodiscard]] Status end_document();

  void skip_white_space();

  /// `message` positioned at the current place, for errors the caller raises itself.
  [[nodiscard]] Error fail_here(std::string_view message) const { return error_at(message, pos_); }

 private:
  class BracketStack;

  [[nodiscard]] bool at_end() const { return pos_ == input_.size(); }
  [[nodiscard]] Error error_at(std::string_view message, std::size_t offset) const;
  /// A scalar's failure, its offset turned into a line and a column.
  [[nodiscard]] Error error_at(const ScanError& failure) const;
  /// Positioned just after the byte under the cursor (or at the end of input).
  [[nodiscard]] Error peek_error(std::string_view message) const;
  /// Skips white space up to the next token, left under the cursor; `eof_message` if the input ends first.
  [[nodiscard]] Status skip_to_token(std::string_view eof_message);
  /// Consumes the ',' under the cursor; a value must follow before `close`.
  [[nodiscard]] Status separator(char close);
  /// Inside `open`, past commas and closing brackets: true when a comma was consumed, false
  /// when the first element of a fresh bracket follows or `open` has become empty.
  [[nodiscard]] Result<bool> skip_to_next_element(BracketStack& open, bool after_value);
  /// A member's name and its ":"; `after_comma` picks the message for an input that ends first.
  [[nodiscard]] Status skip_member_name(bool after_comma);

  std::string_view input_;
  std::size_t pos_ = 0;
};

}  // namespace ferroglade
