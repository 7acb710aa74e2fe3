#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "main/validation.hpp"
#include "unit/test_support.hpp"

namespace ferroglade {
namespace {

using testing::PEER_KEY;
using testing::PRIVATE_KEY;
using testing::ScopedPath;
using testing::typical_document;

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
      {"private key unpadded",
       [](TunnelConfig& c) { c.private_key = SecretText(std::string(PRIVATE_KEY).substr(0, 43)); }, "bad key"},
      {"peer key too short", [](TunnelConfig& c) { c.peer_public_key = "AAAAAAAAAAAAAAAAAAAAAA=="; }, "bad key length"},
      {"bad key beats bad address",
       [](TunnelConfig& c) {
         c.peer_public_key = std::string(PEER_KEY).substr(1) + "-";
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
    TunnelConfig config = typical_document();
    c.change(config);
    EXPECT_EQ(c.expected, outcome(config)) << c.name;
  }
}

TEST(ValidateConfig, NormalisesWhatItAccepts) {
  TunnelConfig config = typical_document();
  config.private_key = SecretText(std::string(" ") + PRIVATE_KEY + "\n");
  config.peer_public_key = std::string("\u00a0") + PEER_KEY + "\r\n";
  config.address = " 10.8.0.2/24 ";
  config.allowed_ips = {"10.1.2.3/8", "fd00::1", "::/0", "10.1.2.3/8"};
  Result<ValidatedConfig> validated = validate_config(config);
  ASSERT_TRUE(validated.ok()) << validated.error().text;
  EXPECT_EQ(PRIVATE_KEY, validated->private_key.view());
  EXPECT_EQ(PEER_KEY, validated->peer_public_key);
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
  const struct {
    std::uint32_t mtu;
    std::uint32_t expected_mtu;
    std::uint16_t keepalive;
    std::uint16_t expected_keepalive;
  } cases[] = {
      {0, 1280, 0, 0},          {1279, 1280, 25, 25}, {1280, 1280, 600, 600},   {1400, 1400, 601, 600},
      {1420, 1420, 65535, 600}, {1500, 1420, 1, 1},   {4294967295, 1420, 0, 0},
  };
  for (const auto& c : cases) {
    TunnelConfig config = typical_document();
    config.mtu = c.mtu;
    config.keepalive = c.keepalive;
    Result<ValidatedConfig> validated = validate_config(config);
    ASSERT_TRUE(validated.ok()) << validated.error().text;
    EXPECT_EQ(c.expected_mtu, validated->mtu) << c.mtu;
    EXPECT_EQ(c.expected_keepalive, validated->keepalive) << c.keepalive;
  }
}

// Validation judges the text alone: no tool, no name lookup.
TEST(ValidateConfig, NeedsNothingFromTheHost) {
  for (const char* path : {"/nonexistent", static_cast<const char*>(nullptr)}) {
    const ScopedPath scoped(path);
    EXPECT_EQ("ok", outcome(typical_document()));
    const char* now = std::getenv("PATH");
    EXPECT_EQ(path == nullptr, now == nullptr);
    if (path != nullptr && now != nullptr) {
      EXPECT_STREQ(path, now);
    }
  }
}

}  // namespace
}  // namespace ferroglade
