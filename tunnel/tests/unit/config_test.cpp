// The tunnel document: reading it from standard input and validating it.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "main/tunnel_config.hpp"
#include "main/validation.hpp"

namespace ferroglade {
namespace {

// "ok" and the record's fields joined by "|" (each allowed_ips entry ended by ","), or the error text.
std::string parsed(std::string_view input) {
  Result<TunnelConfig> c = parse_config(input);
  if (!c) {
    return c.error().text;
  }
  std::string text = "ok " + std::string(c->private_key.view()) + "|" + c->address + "|" + c->dns.value_or("null") +
                     "|" + std::to_string(c->mtu) + "|" + c->peer_public_key + "|" + c->endpoint + "|";
  for (const std::string& entry : c->allowed_ips) {
    text += entry + ",";
  }
  return text + "|" + std::to_string(c->keepalive);
}

TEST(ParseConfig, AcceptsBothFormsAsStrictUtf8) {
  EXPECT_EQ("ok k\n| 10.8.0.2 |null|4294967295|p|e|a,b,|65535",
            parsed(" [\n\"k\\n\", \" 10.8.0.2 \", null, 4294967295, \"p\", \"e\", [ \"a\" , \"b\" ], 65535]\r\n\t"));
  EXPECT_EQ("ok k|\u00e9\U0001F600\uD7FF/\"|null|0|p|e||0",
            parsed(R"({"keepalive":0,"x":{"y":[1e400,{"z":[]}],"":-0.5E-3},"allowed_ips":[],"endpoint":"e",
                "MTU":"s","x":{},"peer_public_key":"p","mtu":0,"address":"\u00e9\ud83d\ude00\uD7FF\/\"","private_key":"k"})"));
  const std::string edges = "\u0080\u07FF\u0800\uD7FF\uE000\uFFFF\U00010000\U0010FFFF";
  EXPECT_EQ("ok k|a|" + edges + "|1|p|e||2", parsed(R"(["k","a",")" + edges + R"(",1,"p","e",[],2])"));
  for (const std::string bytes :
       {"\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5"}) {
    EXPECT_EQ("stream did not contain valid UTF-8", parsed("\"" + bytes + "\"")) << bytes;
  }
}

TEST(ParseConfig, NamesEveryErrorWithItsPlace) {
  const std::string array7 = R"(["k","a",null,1,"p","e",[])";
  const std::pair<std::string, std::vector<std::pair<std::string, int>>> cases[] = {
      {"EOF while parsing a value", {{"", 0}, {R"({"mtu":)", 7}, {R"({"x":1,)", 7}, {R"({"x":{"a":1,)", 12}}},
      {"EOF while parsing an object", {{R"({"x")", 4}, {R"({"x":{"a")", 9}, {R"({"mtu":0)", 8}}},
      // The 64th container closing: the kinds of the 63 around it are still known.
      {"EOF while parsing a list",
       {{R"({"x":[1)", 7}, {array7 + ",2", 28}, {R"({"x":)" + std::string(63, '[') + R"({"a":[]})", 76}}},
      {"EOF while parsing a string",
       {{R"(["ab)", 4}, {R"(["\)", 3}, {R"(["\u12)", 6}, {R"(["\uD800)", 8}, {R"(["\uD800\u12)", 12}}},
      {"expected value", {{"\xEF\xBB\xBF{}", 1}, {R"({"x":True})", 6}, {R"({"x":[1,]})", 9}}},
      {"expected ident", {{R"({"x":nulx})", 9}}},
      {"key must be a string", {{R"({1:2})", 2}, {R"({"x":{"a":1,}})", 13}}},
      {"expected `:`", {{R"({"x" 1})", 6}}},
      {"expected `,` or `}`", {{R"({"x":1 2})", 8}, {R"({"x":{"a":1 2}})", 13}}},
      {"expected `,` or `]`",
       {{"{\r\n\"\xC3\xA9\":[1 x]}", 9}, {"{\"x\":" + std::string(70, '[') + "1}", 77}, {R"({"x":[{},[1 2]]})", 13}}},
      {"invalid number", {{R"({"mtu":-)", 8}, {R"({"x":1.)", 7}, {R"({"x":1E-})", 9}, {R"({"x":01})", 7}}},
      {"number out of range", {{R"({"mtu":1e400})", 12}, {R"({"private_key":-1e400})", 21}}},
      {"invalid escape", {{R"({"x":"a\x"})", 9}, {R"({"x":"\u12G4"})", 11}, {R"({"x":"\uD800\u12G4"})", 17}}},
      {"control character (\\u0000-\\u001F) found while parsing a string", {{"{\"x\":\"\x1f\"}", 7}}},
      {"lone leading surrogate in hex escape", {{R"({"x":"\uDC00"})", 12}, {R"({"x":"\uD800\u0041"})", 18}}},
      {"unexpected end of hex escape", {{R"({"x":"\uD800x"})", 13}}},
      {"trailing comma", {{R"({"mtu":1,})", 10}, {R"({"allowed_ips":["a", ]})", 22}, {array7 + ",2, ]", 31}}},
      {"trailing characters", {{array7 + ",2,3]", 30}, {array7 + ",2 3]", 30}, {array7 + ",2] {}", 31}}},
      {"missing field `private_key`",
       {{"{}", 2}, {R"({"x":{"a":)" + std::string(64, '[') + "{}" + std::string(64, ']') + "}}", 142}}},
      {"missing field `mtu`", {{R"({"private_key":"k","address":"a"} )", 33}}},
      {"duplicate field `private_key`", {{"{\"private_key\":\"k\", \"private_key\" \n :\"k\"}", 1}}},
      {"invalid length 7, expected struct TunnelConfig with 8 elements", {{array7 + "]", 27}}},
      {"invalid type: integer `5`, expected struct TunnelConfig", {{"5", 1}}},
      {"invalid type: boolean `true`, expected u32", {{R"({"mtu":true})", 11}}},
      {"invalid type: null, expected u32", {{R"({"mtu":null})", 11}}},
      {"invalid type: sequence, expected u32", {{R"({"mtu":[1]})", 7}}},
      {"invalid type: map, expected a string", {{R"({"dns":  {}})", 9}}},
      {"invalid type: string \"a\", expected a sequence", {{R"({"allowed_ips":"a"})", 18}}},
      {"invalid type: string \"A\\u{80}\u0800\", expected a sequence",
       {{R"({"allowed_ips":"\u0041\u0080\u0800"})", 35}}},
      {"invalid type: integer `7`, expected a string", {{R"({"allowed_ips":["a",7]})", 21}}},
      {R"(invalid type: string "\u{10}\u{1} \"\\\t\r\n\0\u{7f}\u{80}\u{9f})"
       "\u00a0\", expected u32",
       {{R"({"mtu":"\u0010\u0001 \"\\\t\r\n\u0000\u007f\u0080\u009f\u00a0"})", 62}}},
      {"invalid type: floating point `1.8446744073709552e19`, expected u32", {{R"({"mtu":18446744073709551616})", 27}}},
      {"invalid value: integer `-1`, expected u32", {{R"({"mtu":-1})", 9}}},
      {"invalid value: integer `65536`, expected u16", {{R"({"keepalive":65536})", 18}}},
  };
  // Each error stands on the input's last line.
  for (const auto& [message, places] : cases) {
    for (const auto& [input, column] : places) {
      const auto line = 1 + std::count(input.begin(), input.end(), '\n');
      EXPECT_EQ("config json: " + message + " at line " + std::to_string(line) + " column " + std::to_string(column),
                parsed(input))
          << input;
    }
  }
}

// Where u32 is due, any other number is named by the shortest decimal digits that read back as it.
TEST(ParseConfig, NamesFloatingPointNumbersAsFound) {
  const std::pair<std::string, std::string> cases[] = {
      {"1420.0", "1420.0"},   {"1.5", "1.5"},      {"-0.5", "-0.5"},
      {"-0", "-0.0"},         {"-1e-400", "-0.0"}, {"1e-5", "0.00001"},
      {"9.99e-6", "9.99e-6"}, {"1e16", "1e16"},    {"0.00000000001e300", "1e289"},
      {"0e400", "0.0"}};
  for (const auto& [number, found] : cases) {
    EXPECT_EQ("config json: invalid type: floating point `" + found + "`, expected u32 at line 1 column " +
                  std::to_string(7 + number.size()),
              parsed("{\"mtu\":" + number + "}"));
  }
}

// read_config with standard input on `fd`, which it then closes: the outcome and how far it read.
std::string read_from(int fd) {
  const int saved = dup(STDIN_FILENO);
  dup2(fd, STDIN_FILENO);
  SystemHost host;
  Result<TunnelConfig> config = read_config(host);
  dup2(saved, STDIN_FILENO);
  close(saved);
  std::string text = (config ? "ok" : config.error().text) + ", read " + std::to_string(lseek(fd, 0, SEEK_CUR));
  close(fd);
  return text;
}

TEST(ReadConfig, ReadsAtMostTheLimit) {
  // White space past the limit, then what would be trailing characters; and a character that the limit cuts.
  const std::string whole = R"(["k","a",null,1,"p","e",[],2])" + std::string(CONFIG_INPUT_LIMIT, ' ') + "x";
  const std::string cut = "\"" + std::string(CONFIG_INPUT_LIMIT - 2, 'a') + "\xC3\xA9\"";
  const int files[] = {memfd_create("whole", 0), memfd_create("cut", 0)};
  ASSERT_TRUE(pwrite(files[0], whole.data(), whole.size(), 0) > 0 && pwrite(files[1], cut.data(), cut.size(), 0) > 0);
  EXPECT_EQ("ok, read 65536", read_from(files[0]));
  EXPECT_EQ("stream did not contain valid UTF-8, read 65536", read_from(files[1]));
  EXPECT_EQ("Is a directory (os error 21), read 0", read_from(open("/", O_RDONLY)));
}

// Its last symbol, 8, has every bit set that a key's last symbol may have.
const std::string KEY = "AQIDBAUGBwgJCgsMDQ4PEBESExQVFhcYGRobHB0eHy8=";
const std::string WS = "\t\n\v\f\r \u0085\u00a0\u1680\u2000\u200a\u2028\u2029\u202f\u205f\u3000";  // all of it

std::string repeat(const std::string& text, int n) { return n == 0 ? "" : text + repeat(text, n - 1); }

// validate_config on a typical document whose `field` holds `text` (allowed_ips: entries separated by ","):
// the field's normalised value as text, or the error.
std::string validated(const std::string& field, const std::string& text) {
  std::map<std::string, std::string> t = {
      {"private_key", KEY},     {"address", "10.8.0.2/24"},         {"dns", "10.8.0.1"},          {"mtu", "1420"},
      {"peer_public_key", KEY}, {"endpoint", "198.51.100.7:51820"}, {"allowed_ips", "0.0.0.0/0"}, {"keepalive", "25"}};
  t[field] = text;
  TunnelConfig c{
      SecretText(t["private_key"]), t["address"],  t["dns"], static_cast<std::uint32_t>(std::stoul(t["mtu"])),
      t["peer_public_key"],         t["endpoint"], {},       static_cast<std::uint16_t>(std::stoul(t["keepalive"]))};
  std::istringstream entries(t["allowed_ips"]);
  for (std::string entry; std::getline(entries, entry, ',');) {
    c.allowed_ips.push_back(entry);
  }
  Result<ValidatedConfig> v = validate_config(c);
  if (!v) {
    return v.error().text;
  }
  std::string networks;
  for (const IpNetwork& network : v->allowed_ips) {
    networks += render_network(network) + " ";
  }
  const std::string address = render_address(v->address.address) + "/" + std::to_string(v->address.prefix_length);
  const std::map<std::string, std::string> values = {
      {"private_key", std::string(v->private_key.view())}, {"address", address},      {"dns", render_address(*v->dns)},
      {"endpoint", render_socket_address(v->endpoint)},    {"allowed_ips", networks}, {"mtu", std::to_string(v->mtu)},
      {"keepalive", std::to_string(v->keepalive)}};
  return values.at(field);
}

TEST(ValidateConfig, ChecksAndNormalisesEachField) {
  const std::tuple<std::string, std::string, std::vector<std::string>> cases[] = {
      {"private_key", KEY, {WS + KEY + WS}},
      {"private_key",
       "bad key",
       {KEY.substr(0, 43), KEY + "=", "A===", "Zh==", std::string(42, 'A') + "B=", "\u200b" + KEY, KEY + "\x0e",
        "\b" + KEY, KEY + "\u1fff", "-" + KEY.substr(1), "A=AA" + KEY.substr(4)}},
      {"private_key",
       "bad key length",
       {"", WS, std::string(21, 'A') + "Q==", std::string(86, 'A') + "==", std::string(44, 'A')}},
      {"address", "10.8.0.2/8", {WS + "10.8.0.2/+08" + WS}},
      {"address", "255.255.255.255/32", {"255.255.255.255"}},
      {"address", "address prefix too short", {"10.8.0.2/7"}},
      {"address", "prefix /33 too long", {"10.8.0.2/33", "10.8.0.2/+033"}},
      {"address", "prefix /200 too long", {"fd00::2/200"}},
      {"address", "address must be IPv4", {"fd00::2/64", "::ffff:10.8.0.2"}},
      {"address", "bad prefix ", {"10.8.0.2/"}},
      {"address", "bad prefix 256", {"10.8.0.2/256"}},
      {"address", "bad address 10.8.0.2 ", {"10.8.0.2 /24"}},
      {"dns", "fd00::1", {WS + "FD00:0:0:0:0:0:0:1" + WS}},
      {"dns", "2001:db8::53", {"2001:0DB8:0000:0000:0000:0000:0000:0053"}},
      {"dns", "::ffff:10.0.0.53", {"::ffff:10.0.0.53", "0:0:0:0:0:ffff:a00:35"}},
      {"dns", "::a00:35", {"::10.0.0.53"}},
      {"dns", "1:2:3:4:5:6:7:0", {"1:2:3:4:5:6:7::"}},
      {"dns", "1:2:3:4:5:6:102:304", {"1:2:3:4:5:6:1.2.3.4"}},
      {"dns", "1::2:0:0:3:4", {"1:0:0:2:0:0:3:4"}},
      {"dns", "1:0:0:2::3", {"1:0:0:2:0:0:0:3"}},
      {"dns", "abcd:a0b:f0::", {"abcd:0a0b:00f0::"}},
      {"dns",
       "bad dns",
       {"10.8.0.1,10.8.0.2",
        "",
        "vpn.example",
        "10.8.0.1/32",
        "::g",
        "1.2.3.4::",
        "1.2.3.4.5",
        "010.8.0.2",
        "10.8.0.256",
        "fe80::1%3",
        "1::2::3",
        ":1::",
        "::1:",
        "12345::",
        "1:2:3:4::5:6:7:8",
        "1:2:3:4:5:6:7",
        "1:2:3:4:5:6:7:8:9",
        "::1.2.3.4:5",
        "::ffff:01.2.3.4",
        "1:2:3:4:5:6:7:1.2.3.4"}},
      {"endpoint", "[2001:db8::1]:51820", {WS + "[2001:DB8::1]:51820" + WS}},
      {"endpoint", "[fe80::1%4294967295]:65535", {"[fe80::1%4294967295]:65535"}},
      {"endpoint", "bad endpoint port", {"198.51.100.7:0", "[::1]:000"}},
      {"endpoint",
       "endpoint must be ip:port",
       {"198.51.100.7:65536", "198.51.100.7:" + std::string(50, '9'), "198.51.100.7", "198.51.100.7:+80",
        "vpn.example:51820", "2001:db8::1:51820", "[2001:db8::1]", "[2001:db8::1]51820", "[1.2.3.4]:80", "[fe80::1%]:1",
        "[fe80::1%eth0]:1", "[fe80::1%4294967296]:1", ""}},
      {"allowed_ips", "10.1.128.0/17 fd00::1/128 ::/0 ", {"10.1.255.3/17, fd00::1\n,::/0"}},
      {"allowed_ips", "0.0.0.0/0 2001:db8:8000::/33 ", {"255.255.255.255/0,2001:db8:ffff:ffff::1/33"}},
      {"allowed_ips", repeat("::/128 ", 16), {repeat("::,", 16)}},
      {"allowed_ips", "allowed_ips: 1..16 entries", {"", repeat("x,", 17)}},
      {"allowed_ips", "prefix /40 too long", {"10.0.0.0/8,10.0.0.0/40,x"}},
      {"mtu", "1280", {"0", "1279", "1280"}},
      {"mtu", "1420", {"1420", "1421", "4294967295"}},
      {"keepalive", "600", {"600", "601", "65535"}},
  };
  for (const auto& [field, expected, texts] : cases) {
    for (const std::string& text : texts) {
      EXPECT_EQ(expected, validated(field, text)) << field << " \"" << text << '"';
    }
  }
  // A bad key is reported before a bad address.
  EXPECT_EQ("bad key", validate_config(TunnelConfig{SecretText(KEY), "x", {}, 0, "x", "x", {}, 0}).error().text);
}

}  // namespace
}  // namespace ferroglade
