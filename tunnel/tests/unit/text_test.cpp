#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "linux/text.hpp"

namespace ferroglade {
namespace {

constexpr std::string_view FFFD = "\xEF\xBF\xBD";

std::string replaced(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += FFFD;
  }
  return text;
}

TEST(WhiteSpace, CoversTheWholeUnicodeSetAndNothingNextToIt) {
  for (const char32_t c : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x2005, 0x200A, 0x2028,
                           0x2029, 0x202F, 0x205F, 0x3000}) {
    EXPECT_TRUE(is_white_space(c)) << std::hex << static_cast<unsigned>(c);
  }
  for (const char32_t c : {0x00, 0x08, 0x0E, 0x1F, 0x21, 0x84, 0x86, 0x180E, 0x200B, 0x2060, 0xFEFF, 0x3001}) {
    EXPECT_FALSE(is_white_space(c)) << std::hex << static_cast<unsigned>(c);
  }
}

struct LossyCase {
  std::string_view input;
  std::string expected;
};

TEST(DecodeUtf8Lossy, ReplacesEachMaximalInvalidSubpart) {
  const std::vector<LossyCase> cases = {
      {"", ""},
      {"plain ascii", "plain ascii"},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
      {"\xF0\x9F\x98"
       "A",
       replaced(1) + "A"},                // truncated sequence is one subpart
      {"\xC0\xAF", replaced(2)},          // overlong lead is never valid
      {"\xE0\x80\xAF", replaced(3)},      // overlong three-byte form
      {"\xED\xA0\x80", replaced(3)},      // surrogate
      {"\xF4\x90\x80\x80", replaced(4)},  // above U+10FFFF
      {"\xF5\x80", replaced(2)},
      {"\x80\xBF", replaced(2)},  // stray continuation bytes
      {"\xE2\x82", replaced(1)},  // truncated at end of input
      {"\xE2\x82\xE2\x82\xAC", replaced(1) + "\xE2\x82\xAC"},
      {"a\xFF"
       "b",
       "a" + replaced(1) + "b"},
      {"\xF1\x80\x80\xE1\x80\xC2", replaced(3)},
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},  // U+10FFFF itself
  };
  for (const LossyCase& c : cases) {
    EXPECT_EQ(c.expected, decode_utf8_lossy(c.input)) << testing::PrintToString(std::string(c.input));
  }
}

TEST(IsValidUtf8, IsStrict) {
  for (const std::string_view valid :
       {std::string_view(""), std::string_view("abc"), std::string_view("\xC2\x80"), std::string_view("\xED\x9F\xBF"),
        std::string_view("\xEE\x80\x80"), std::string_view("\xF4\x8F\xBF\xBF"), std::string_view("a\0b", 3)}) {
    EXPECT_TRUE(is_valid_utf8(valid)) << testing::PrintToString(std::string(valid));
  }
  for (const std::string_view invalid : {"\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
                                         "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "\xC3", "ok\x80"}) {
    EXPECT_FALSE(is_valid_utf8(invalid)) << testing::PrintToString(std::string(invalid));
  }
}

TEST(Trim, RemovesUnicodeWhiteSpaceFromBothEndsOnly) {
  const std::vector<std::pair<std::string_view, std::string_view>> cases = {
      {"", ""},
      {" \t\r\n", ""},
      {"  key  ", "key"},
      {"\xE3\x80\x80key\xC2\xA0\xE2\x80\xA8", "key"},  // U+3000, U+00A0, U+2028
      {"line one\nline two\n", "line one\nline two"},
      {"\xC2\x85"
       "a b\xE2\x80\x8A",
       "a b"},
      {"\xE2\x80\x8Bkey", "\xE2\x80\x8Bkey"},  // U+200B is not white space
      {" \xFF ", "\xFF"},                      // invalid bytes stop trimming
      {"\xC2 x", "\xC2 x"},                    // a broken U+00A0 is not white space
      {" x\xE3\x80", "x\xE3\x80"},
  };
  for (const auto& [input, expected] : cases) {
    EXPECT_EQ(expected, trim(input)) << testing::PrintToString(std::string(input));
  }
}

}  // namespace
}  // namespace ferroglade
