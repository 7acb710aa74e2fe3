#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "main/keys.hpp"
#include "main/validation.hpp"

namespace ferroglade {
namespace {

std::string key_text(std::uint8_t fill) {
  std::array<std::uint8_t, KEY_LENGTH> bytes{};
  bytes.fill(fill);
  return encode_base64(bytes.data(), bytes.size());
}

TunnelConfig good_config() {
  TunnelConfig config;
  config.private_key = SecretText(key_text(0x11));
  config.address = "10.8.0.2/24";
  config.dns = "10.8.0.1";
  config.mtu = 1420;
  config.peer_public_key = key_text(0x22);
  config.endpoint = "198.51.100.7:51820";
  config.allowed_ips = {"0.0.0.0/0"};
  config.keepalive = 25;
  return config;
}

std::string outcome(const TunnelConfig& config) {
  Result<ValidatedConfig> validated = validate_config(config);
  return validated ? "ok" : validated.error().text;
}

std::vector<std::string> entries(std::size_t count, const std::string& entry) {
  return std::vector<std::string>(count, entry);
}

TEST(ValidateConfig, ReportsTheFirstFailingCheck) {
  using Change = std::function<void(TunnelConfig&)>;
  struct Case {
    const char* name;
    Change change;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"good", [](TunnelConfig&) {}, "ok"},
      {"private key unpadded", [](TunnelConfig& c) { c.private_key = SecretText(key_text(0).substr(0, 43)); },
       "bad key"},
      {"peer key too short", [](TunnelConfig& c) { c.peer_public_key = "AAAAAAAAAAAAAAAAAAAAAA=="; }, "bad key length"},
      {"bad key beats bad address",
       [](TunnelConfig& c) {
         c.peer_public_key = key_text(0x22).substr(1) + "-";
         c.address = "nonsense";
       },
       "bad key"},
      {"address host name", [](TunnelConfig& c) { c.address = "vpn.example/24"; }, "bad address vpn.example"},
      {"address prefix over 32", [](TunnelConfig& c) { c.address = "10.8.0.2/33"; }, "prefix /33 too long"},
      {"address IPv6", [](TunnelConfig& c) { c.address = "fd00::2/64"; }, "address must be IPv4"},
      {"address IPv6 prefix over 128", [](TunnelConfig& c) { c.address = "fd00::2/200"; }, "prefix /200 too long"},
      {"address IPv6 prefix too short", [](TunnelConfig& c) { c.address = "fd00::2/4"; }, "address must be IPv4"},
      {"address prefix 7", [](TunnelConfig& c) { c.address = "10.8.0.2/7"; }, "address prefix too short"},
      {"address prefix 8", [](TunnelConfig& c) { c.address = "10.8.0.2/8"; }, "ok"},
      {"address no prefix", [](TunnelConfig& c) { c.address = "10.8.0.2"; }, "ok"},
      {"dns two servers", [](TunnelConfig& c) { c.dns = "10.8.0.1,10.8.0.2"; }, "bad dns"},
      {"dns with prefix", [](TunnelConfig& c) { c.dns = "10.8.0.1/32"; }, "bad dns"},
      {"dns IPv6", [](TunnelConfig& c) { c.dns = " fd00::1\n"; }, "ok"},
      {"dns absent", [](TunnelConfig& c) { c.dns.reset(); }, "ok"},
      {"endpoint host name", [](TunnelConfig& c) { c.endpoint = "vpn.example:51820"; }, "endpoint must be ip:port"},
      {"endpoint port 0", [](TunnelConfig& c) { c.endpoint = "198.51.100.7:0"; }, "bad endpoint port"},
      {"endpoint trimmed", [](TunnelConfig& c) { c.endpoint = "\t[2001:db8::1]:51820 \n"; }, "ok"},
      {"bad dns beats bad endpoint",
       [](TunnelConfig& c) {
         c.dns = "x";
         c.endpoint = "x";
       },
       "bad dns"},
      {"no allowed_ips", [](TunnelConfig& c) { c.allowed_ips.clear(); }, "allowed_ips: 1..16 entries"},
      {"16 allowed_ips", [](TunnelConfig& c) { c.allowed_ips = entries(16, "10.0.0.0/8"); }, "ok"},
      {"17 malformed allowed_ips", [](TunnelConfig& c) { c.allowed_ips = entries(17, "junk"); },
       "allowed_ips: 1..16 entries"},
      {"first bad entry wins",
       [](TunnelConfig& c) {
         c.allowed_ips = {"10.0.0.0/8", "10.0.0.0/40", "junk"};
       },
       "prefix /40 too long"},
  };
  for (const Case& c : cases) {
    TunnelConfig config = good_config();
    c.change(config);
    EXPECT_EQ(c.expected, outcome(config)) << c.name;
  }
}

TEST(ValidateConfig, NormalisesWhatItAccepts) {
  TunnelConfig config = good_config();
  const std::string private_key = key_text(0x11);
  config.private_key = SecretText(" " + private_key + "\n");
  config.peer_public_key = "\u00a0" + key_text(0x22) + "\r\n";
  config.address = " 10.8.0.2/24 ";
  config.allowed_ips = {"10.1.2.3/8", "fd00::1", "::/0", "10.1.2.3/8"};
  Result<ValidatedConfig> validated = validate_config(config);
  ASSERT_TRUE(validated.ok()) << validated.error().text;
  EXPECT_EQ(private_key, validated->private_key.view());
  EXPECT_EQ(key_text(0x22), validated->peer_public_key);
  EXPECT_EQ("10.8.0.2", render_address(validated->address.address));
  EXPECT_EQ(24, validated->address.prefix_length);
  ASSERT_TRUE(validated->dns.has_value());
  EXPECT_EQ("10.8.0.1", render_address(*validated->dns));
  EXPECT_EQ("198.51.100.7:51820", render_socket_address(validated->endpoint));
  std::vector<std::string> networks;
  for (const IpNetwork& network : validated->allowed_ips) {
    networks.push_back(render_network(network));
  }
  EXPECT_EQ((std::vector<std::string>{"10.0.0.0/8", "fd00::1/128", "::/0", "10.0.0.0/8"}), networks);
}

TEST(ValidateConfig, ClampsMtuAndCapsKeepalive) {
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> mtus = {
      {0, 1280}, {1279, 1280}, {1280, 1280}, {1400, 1400}, {1420, 1420}, {1500, 1420}, {4294967295, 1420}};
  for (const auto& [given, expected] : mtus) {
    TunnelConfig config = good_config();
    config.mtu = given;
    Result<ValidatedConfig> validated = validate_config(config);
    ASSERT_TRUE(validated.ok());
    EXPECT_EQ(expected, validated->mtu) << given;
  }
  const std::vector<std::pair<std::uint16_t, std::uint16_t>> keepalives = {
      {0, 0}, {25, 25}, {600, 600}, {601, 600}, {65535, 600}};
  for (const auto& [given, expected] : keepalives) {
    TunnelConfig config = good_config();
    config.keepalive = given;
    Result<ValidatedConfig> validated = validate_config(config);
    ASSERT_TRUE(validated.ok());
    EXPECT_EQ(expected, validated->keepalive) << given;
  }
}

TEST(ValidateConfig, NeedsNothingFromTheHost) {
  const char* saved = std::getenv("PATH");
  const std::string saved_path = saved != nullptr ? saved : "";
  ASSERT_EQ(0, setenv("PATH", "/nonexistent", 1));
  EXPECT_EQ("ok", outcome(good_config()));
  EXPECT_STREQ("/nonexistent", std::getenv("PATH"));
  ASSERT_EQ(0, unsetenv("PATH"));
  EXPECT_EQ("ok", outcome(good_config()));
  EXPECT_EQ(nullptr, std::getenv("PATH"));
  if (saved != nullptr) {
    setenv("PATH", saved_path.c_str(), 1);
  }
}

}  // namespace
}  // namespace ferroglade
