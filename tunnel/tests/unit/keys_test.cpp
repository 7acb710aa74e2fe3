#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "main/keys.hpp"

namespace ferroglade {
namespace {

constexpr std::string_view ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string encode(std::string_view bytes) {
  return encode_base64(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::string decode_error(std::string_view text) {
  Result<KeyBytes> key = decode_key(text);
  return key ? "ok" : key.error().text;
}

TEST(EncodeBase64, MatchesTheStandardVectors) {
  EXPECT_EQ("", encode(""));
  EXPECT_EQ("Zg==", encode("f"));
  EXPECT_EQ("Zm8=", encode("fo"));
  EXPECT_EQ("Zm9v", encode("foo"));
  EXPECT_EQ("Zm9vYmFy", encode("foobar"));
  EXPECT_EQ("+/8=", encode("\xfb\xff"));
}

TEST(DecodeKey, RejectsEveryNonCanonicalText) {
  const std::string good = encode(std::string(32, '\x5a'));
  ASSERT_EQ("ok", decode_error(good));
  const std::string body = good.substr(0, 43);
  struct Case {
    std::string text;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {body, "bad key"},         // padding left out
      {body + "==", "bad key"},  // too much padding
      {body.substr(0, 20) + "-" + body.substr(21) + "=", "bad key"},
      {body.substr(0, 20) + "_" + body.substr(21) + "=", "bad key"},
      {body.substr(0, 20) + " " + body.substr(21) + "=", "bad key"},
      {body.substr(0, 20) + "=" + body.substr(21) + "=", "bad key"},  // padding inside
      {"A===", "bad key"},                                            // padding after one symbol
      {"Zh==", "bad key"},
      {std::string(43, 'A') + "\xc3", "bad key"},  // non-ASCII byte
      {"", "bad key length"},
      {"Zm9vYmFy", "bad key length"},
      {encode(std::string(16, '\x01')), "bad key length"},
      {encode(std::string(33, '\x01')), "bad key length"},
      {encode(std::string(64, '\x01')), "bad key length"},
      {encode(std::string(64, '\x01')).substr(1) + "-", "bad key"},  // a violation wins over the length
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, decode_error(c.text)) << '"' << c.text << '"';
  }
}

TEST(DecodeKey, TrimsSurroundingWhiteSpaceOnly) {
  const std::string good = encode(std::string(32, '\x11'));
  EXPECT_EQ("ok", decode_error("\u3000 \t" + good + "\u00a0\r\n"));
  EXPECT_EQ("bad key length", decode_error(" \n\t "));
}

TEST(DecodeKey, OnlyTheSixteenZeroTailSymbolsEndAKey) {
  int accepted = 0;
  for (std::size_t value = 0; value < ALPHABET.size(); ++value) {
    std::string text = std::string(42, 'A') + ALPHABET[value] + "=";
    bool expected = value % 4 == 0;
    EXPECT_EQ(expected ? "ok" : "bad key", decode_error(text)) << text;
    accepted += expected ? 1 : 0;
  }
  EXPECT_EQ(16, accepted);
}

TEST(DecodeKey, RoundTripsRandomKeys) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 2000; ++round) {
    std::array<std::uint8_t, KEY_LENGTH> bytes{};
    for (std::uint8_t& b : bytes) {
      b = static_cast<std::uint8_t>(byte(random));
    }
    std::string text = encode_base64(bytes.data(), bytes.size());
    ASSERT_EQ(44u, text.size());
    Result<KeyBytes> key = decode_key(text);
    ASSERT_TRUE(key.ok()) << text;
    EXPECT_EQ(bytes, key->bytes) << text;
    EXPECT_EQ(text, encode_base64(key->bytes.data(), key->bytes.size()));
  }
}

}  // namespace
}  // namespace ferroglade
