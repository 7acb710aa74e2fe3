#include "main/json_reader.hpp"

#include <gtest/gtest.h>

#include <string>

namespace ferroglade {
namespace {

// Skips one whole document: the reader's syntax rules without any typed request.
std::string skip_document(std::string_view text) {
  JsonReader reader(text);
  Status status = reader.skip_value();
  if (status) {
    status = reader.end_document();
  }
  return status ? "ok" : status.error().text;
}

TEST(JsonReader, SyntaxMessagesAndPositions) {
  const struct {
    std::string input;
    std::string expected;
  } cases[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {" \n ", "EOF while parsing a value at line 2 column 1"},
      {"\xEF\xBB\xBF{}", "expected value at line 1 column 1"},
      {"\f1", "expected value at line 1 column 1"},
      {"+1", "expected value at line 1 column 1"},
      {"[1,]", "expected value at line 1 column 4"},
      {R"({"a":1,})", "key must be a string at line 1 column 8"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {"[", "EOF while parsing a list at line 1 column 1"},
      {"[1", "EOF while parsing a list at line 1 column 2"},
      {"[1,", "EOF while parsing a value at line 1 column 3"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {R"({"a")", "EOF while parsing an object at line 1 column 4"},
      {R"({"a":)", "EOF while parsing a value at line 1 column 5"},
      {R"({"a":1,)", "EOF while parsing a value at line 1 column 7"},
      {R"({"a" 1})", "expected `:` at line 1 column 6"},
      {R"({"a":1 2})", "expected `,` or `}` at line 1 column 8"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"[] x", "trailing characters at line 1 column 4"},
      {"nul", "EOF while parsing a value at line 1 column 3"},
      {"nulx", "expected ident at line 1 column 4"},
      {"True", "expected value at line 1 column 1"},
      {"01", "invalid number at line 1 column 2"},
      // A number cut off by the end of input is malformed, not a missing value.
      {"-", "invalid number at line 1 column 1"},
      {"1.", "invalid number at line 1 column 2"},
      {"1e", "invalid number at line 1 column 2"},
      {"1E-", "invalid number at line 1 column 3"},
      {"-a", "invalid number at line 1 column 2"},
      {"[-]", "invalid number at line 1 column 3"},
      {"1.e5", "invalid number at line 1 column 3"},
      {".5", "expected value at line 1 column 1"},
      {"NaN", "expected value at line 1 column 1"},
      {"\"abc", "EOF while parsing a string at line 1 column 4"},
      {"\"\\", "EOF while parsing a string at line 1 column 2"},
      {"\"\\u12", "EOF while parsing a string at line 1 column 5"},
      {"\"a\\x\"", "invalid escape at line 1 column 4"},
      {"\"\\u12G4\"", "invalid escape at line 1 column 6"},
      {"\"\tx\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 2"},
      {std::string("\"\0\"", 3), "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 2"},
      {"\"\\uDC00\"", "lone leading surrogate in hex escape at line 1 column 7"},
      {"\"\\uD800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\uD800x\"", "unexpected end of hex escape at line 1 column 8"},
      {"\"\\uD800\\n\"", "unexpected end of hex escape at line 1 column 9"},
      {"\"\\uD800", "EOF while parsing a string at line 1 column 7"},
      // Columns count bytes from the line's start, not characters.
      {"{\n  \"a\": 01\n}", "invalid number at line 2 column 9"},
      {"[\"\xC3\xA9\" x]", "expected `,` or `]` at line 1 column 7"},
      {"[1,\r\n\r\n2,]", "expected value at line 3 column 3"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, skip_document(c.input)) << c.input;
  }
}

TEST(JsonReader, SkipsEveryWellFormedValue) {
  for (const std::string input : {
           "null",
           " true ",
           "-0.5e-3",
           "1e400",
           "[-1e400, 0, 1E+2, 123456789012345678901234567890]",
           R"({"a":[{}, [], {"b":{"c":[null,false,"\"\\\/\b\f\n\r\t\u00e9\uD83D\uDE00"]}}], "a":1})",
           "\"\xF0\x9F\x98\x80\"",
       }) {
    EXPECT_EQ("ok", skip_document(input)) << input;
  }
}

TEST(JsonReader, DepthIsBoundedOnlyByInput) {
  const std::size_t depth = 200000;
  EXPECT_EQ("ok", skip_document(std::string(depth, '[') + std::string(depth, ']')));

  std::string objects;
  for (std::size_t i = 0; i < depth; ++i) {
    objects += R"({"a":[)";
  }
  for (std::size_t i = 0; i < depth; ++i) {
    objects += "]}";
  }
  EXPECT_EQ("ok", skip_document(objects));

  EXPECT_EQ("EOF while parsing a list at line 1 column 65536", skip_document(std::string(65536, '[')));
  // A wrong closing bracket deep down is caught at its own place.
  EXPECT_EQ("expected `,` or `]` at line 1 column 131", skip_document(std::string(129, '[') + "1}"));
}

TEST(JsonReader, DecodesStrings) {
  JsonReader reader(R"(["a\u00e9\ud83d\ude00\n\/\"", "plain"])");
  ASSERT_TRUE(reader.begin_array("a sequence"));
  std::string text;
  ASSERT_TRUE(reader.next_element(true).value());
  ASSERT_TRUE(reader.read_string(text, "a string"));
  EXPECT_EQ("a\xC3\xA9\xF0\x9F\x98\x80\n/\"", text);
  ASSERT_TRUE(reader.next_element(false).value());
  ASSERT_TRUE(reader.read_string(text, "a string"));
  EXPECT_EQ("plain", text);
  EXPECT_FALSE(reader.next_element(false).value());
  EXPECT_TRUE(reader.end_document());
}

TEST(JsonReader, NumbersAreClassifiedBeforeRangeChecks) {
  const struct {
    std::string input;
    std::string expected;
  } cases[] = {
      {"18446744073709551615", "ok"},
      {"18446744073709551616", "invalid type: floating point `1.8446744073709552e19`, expected u64"},
      {"-9223372036854775808", "invalid value: integer `-9223372036854775808`, expected u64"},
      {"-9223372036854775809", "invalid type: floating point `-9.223372036854776e18`, expected u64"},
      {"-0", "invalid type: floating point `-0.0`, expected u64"},
      {"1e-400", "invalid type: floating point `0.0`, expected u64"},
      {"-1e-400", "invalid type: floating point `-0.0`, expected u64"},
      {"0.00000000001e300", "invalid type: floating point `1e289`, expected u64"},
      {"1e400", "number out of range"},
      {"-1e400", "number out of range"},
      {"1000000e-6", "invalid type: floating point `1.0`, expected u64"},
  };
  for (const auto& c : cases) {
    JsonReader reader(c.input);
    Result<std::uint64_t> read = reader.read_unsigned(UINT64_MAX, "u64");
    const std::string position = " at line 1 column " + std::to_string(c.input.size());
    EXPECT_EQ(c.expected == "ok" ? "ok" : c.expected + position, read ? "ok" : read.error().text) << c.input;
  }
}

}  // namespace
}  // namespace ferroglade
