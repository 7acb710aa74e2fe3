#include "main/tunnel_config.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace ferroglade {
namespace {

constexpr std::string_view KEY = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";

std::string typical_document() {
  return std::string(R"({"private_key":")") + std::string(KEY) +
         R"(","address":"10.8.0.2/24","dns":"10.8.0.1","mtu":1420,"peer_public_key":")" + std::string(KEY) +
         R"(","endpoint":"198.51.100.7:51820","allowed_ips":["0.0.0.0/0","::/0"],"keepalive":25})";
}

std::string error_of(std::string_view document) {
  Result<TunnelConfig> config = parse_config(document);
  return config ? "ok" : config.error().text;
}

TEST(ParseConfig, ArrayFormFillsTheRecordInOrder) {
  Result<TunnelConfig> array =
      parse_config(" [\n\"k\\n\", \" 10.8.0.2 \", null, 4294967295, \"p\", \"e\", [], 65535]\n\t");
  ASSERT_TRUE(array) << array.error().text;
  EXPECT_EQ("k\n", array->private_key.view());
  EXPECT_EQ(" 10.8.0.2 ", array->address);
  EXPECT_FALSE(array->dns.has_value());
  EXPECT_EQ(4294967295u, array->mtu);
  EXPECT_TRUE(array->allowed_ips.empty());
  EXPECT_EQ(65535u, array->keepalive);
}

TEST(ParseConfig, MembersInAnyOrderWithUnknownOnesSkipped) {
  const std::string reordered = R"({"keepalive":0,"x":{"y":[1e400,{"z":null}]},"allowed_ips":["a"],"endpoint":"e",
    "MTU":"skipped","x":1,"peer_public_key":"p","mtu":0,"dns":null,"address":"a","private_key":"k"})";
  Result<TunnelConfig> config = parse_config(reordered);
  ASSERT_TRUE(config) << config.error().text;
  EXPECT_FALSE(config->dns.has_value());
  EXPECT_EQ(0u, config->mtu);
}

TEST(ParseConfig, ShapeErrorsAndTheirPositions) {
  const std::string array7 = R"(["k","a",null,1,"p","e",[]])";
  const struct {
    std::string input;
    std::string expected;
  } cases[] = {
      {"5", "invalid type: integer `5`, expected struct TunnelConfig at line 1 column 1"},
      {R"( "x")", "invalid type: string \"x\", expected struct TunnelConfig at line 1 column 4"},
      {"null", "invalid type: null, expected struct TunnelConfig at line 1 column 4"},
      {"{}", "missing field `private_key` at line 1 column 2"},
      {R"({"private_key":"k","address":"a","peer_public_key":"p","endpoint":"e","allowed_ips":[]})",
       "missing field `mtu` at line 1 column 87"},
      {R"({"mtu":1,"mtu" x)", "duplicate field `mtu` at line 1 column 15"},
      {"{\"private_key\":\"k\", \"private_key\" \n :\"k\"}", "duplicate field `private_key` at line 2 column 1"},
      {R"({"dns":null,"dns":"x"})", "duplicate field `dns` at line 1 column 17"},
      {R"({"mtu":1,})", "trailing comma at line 1 column 10"},
      {"[]", "invalid length 0, expected struct TunnelConfig with 8 elements at line 1 column 2"},
      {array7, "invalid length 7, expected struct TunnelConfig with 8 elements at line 1 column 27"},
      {R"(["k","a",null,1,"p","e",[],2,])", "trailing comma at line 1 column 30"},
      {R"(["k","a",null,1,"p","e",[],2,3])", "trailing characters at line 1 column 30"},
      {R"(["k","a",null,1,"p","e",[],2 3])", "trailing characters at line 1 column 30"},
      {R"(["k","a",null,1,"p","e",[],2,)", "trailing characters at line 1 column 29"},
      {R"(["k","a",null,1,"p","e",[],2)", "EOF while parsing a list at line 1 column 28"},
      {R"(["k","a",null,1,"p","e",[],2] {})", "trailing characters at line 1 column 31"},
      {R"(["k","a",null,1,"p","e",["x",],2])", "trailing comma at line 1 column 30"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ("config json: " + c.expected, error_of(c.input)) << c.input;
  }
}

TEST(ParseConfig, TypeErrorsNameWhatWasFound) {
  const struct {
    std::string member;
    std::string value;
    std::string found_and_expected;
  } cases[] = {
      {"mtu", "\"1420\"", "invalid type: string \"1420\", expected u32"},
      {"mtu", "1420.0", "invalid type: floating point `1420.0`, expected u32"},
      {"mtu", "-1", "invalid value: integer `-1`, expected u32"},
      {"mtu", "4294967296", "invalid value: integer `4294967296`, expected u32"},
      {"mtu", "true", "invalid type: boolean `true`, expected u32"},
      {"mtu", "null", "invalid type: null, expected u32"},
      {"keepalive", "65536", "invalid value: integer `65536`, expected u16"},
      {"address", "5", "invalid type: integer `5`, expected a string"},
      {"address", "false", "invalid type: boolean `false`, expected a string"},
      {"dns", "0", "invalid type: integer `0`, expected a string"},
      {"allowed_ips", "\"0.0.0.0/0\"", "invalid type: string \"0.0.0.0/0\", expected a sequence"},
      {"endpoint", R"("a\"b\\c\t\r\n\u0000\u0001\u007f\u0085é\u2028")",
       R"(invalid type: string "a\"b\\c\t\r\n\0\u{1}\u{7f}\u{85}é)"
       "\u2028\", expected a sequence"},
      {"private_key", "1e400", "number out of range"},
  };
  for (const auto& c : cases) {
    // The endpoint case exercises quoting: put the string where a sequence belongs.
    const std::string member = c.member == "endpoint" ? "allowed_ips" : c.member;
    const std::string input = "{\"" + member + "\":" + c.value + "}";
    const std::string position = " at line 1 column " + std::to_string(input.size() - 1);
    EXPECT_EQ("config json: " + c.found_and_expected + position, error_of(input)) << input;
  }
  EXPECT_EQ("config json: invalid type: integer `7`, expected a string at line 1 column 21",
            error_of(R"({"allowed_ips":["a",7]})"));
  // Containers are positioned before their opening bracket.
  EXPECT_EQ("config json: invalid type: sequence, expected u32 at line 1 column 7", error_of(R"({"mtu":[1]})"));
  EXPECT_EQ("config json: invalid type: map, expected a string at line 1 column 9", error_of(R"({"dns":  {}})"));
}

TEST(ParseConfig, InvalidUtf8HasNoPrefix) {
  for (const std::string input : {"\xFF", "{\"x\":\"\xC3\"}", "\xED\xA0\x80"}) {
    EXPECT_EQ("stream did not contain valid UTF-8", error_of(input));
  }
}

// Runs read_config with `fd` as standard input, restoring the real one afterwards.
Result<TunnelConfig> read_from(int fd) {
  const int saved = dup(STDIN_FILENO);
  if (fd >= 0) {
    dup2(fd, STDIN_FILENO);
  } else {
    close(STDIN_FILENO);
  }
  SystemHost host;
  Result<TunnelConfig> config = read_config(host);
  dup2(saved, STDIN_FILENO);
  close(saved);
  return config;
}

int temp_file_holding(const std::string& content) {
  char name[] = "/tmp/tunnel_config_test.XXXXXX";
  const int fd = mkstemp(name);
  unlink(name);
  EXPECT_EQ(static_cast<ssize_t>(content.size()), write(fd, content.data(), content.size()));
  lseek(fd, 0, SEEK_SET);
  return fd;
}

TEST(ReadConfig, ReadsExactlyTheLimitAndLeavesTheRest) {
  // White space past the limit after a complete document is never seen.
  const std::string padded = typical_document() + std::string(CONFIG_INPUT_LIMIT, ' ') + "x";
  int fd = temp_file_holding(padded);
  Result<TunnelConfig> config = read_from(fd);
  EXPECT_TRUE(config) << config.error().text;
  EXPECT_EQ(static_cast<off_t>(CONFIG_INPUT_LIMIT), lseek(fd, 0, SEEK_CUR));
  close(fd);

  const std::string opening = R"({"x":")";
  std::string cut = opening + std::string(CONFIG_INPUT_LIMIT - opening.size(), 'a') + "\"}";
  fd = temp_file_holding(cut);
  EXPECT_EQ("config json: EOF while parsing a string at line 1 column 65536", read_from(fd).error().text);
  close(fd);

  // A two-byte character whose second byte lies past the limit.
  cut = opening + std::string(CONFIG_INPUT_LIMIT - opening.size() - 1, 'a') + "\xC3\xA9\"}";
  fd = temp_file_holding(cut);
  EXPECT_EQ("stream did not contain valid UTF-8", read_from(fd).error().text);
  close(fd);
}

TEST(ReadConfig, ReadFailuresAreReported) {
  const int directory = open("/", O_RDONLY | O_DIRECTORY);
  EXPECT_EQ("Is a directory (os error 21)", read_from(directory).error().text);
  close(directory);
}

TEST(ReadConfig, InterruptedReadsAreRepeated) {
  struct sigaction action = {};
  struct sigaction old = {};
  action.sa_handler = [](int) {};  // no SA_RESTART: read fails with EINTR
  sigaction(SIGUSR1, &action, &old);

  int pipe_fds[2];
  ASSERT_EQ(0, pipe(pipe_fds));
  const pthread_t reader = pthread_self();
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pthread_kill(reader, SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string document = typical_document();
    EXPECT_EQ(static_cast<ssize_t>(document.size()), write(pipe_fds[1], document.data(), document.size()));
    close(pipe_fds[1]);
  });
  Result<TunnelConfig> config = read_from(pipe_fds[0]);
  writer.join();
  close(pipe_fds[0]);
  sigaction(SIGUSR1, &old, nullptr);
  EXPECT_TRUE(config) << config.error().text;
}

}  // namespace
}  // namespace ferroglade
