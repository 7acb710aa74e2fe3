#include "main/wireguard_device.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unit/recording_host.hpp"

namespace ferroglade {
namespace {

using testing::ipv4;
using testing::ipv6;
using testing::network;
using testing::RecordingHost;

constexpr const char* PRIVATE_KEY = "AQIDBAUGBwgJCgsMDQ4PEBESExQVFhcYGRobHB0eHyA=";
constexpr const char* PEER_KEY = "QkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkI=";

ValidatedConfig typical_config() {
  ValidatedConfig config;
  config.private_key = SecretText(PRIVATE_KEY);
  config.peer_public_key = PEER_KEY;
  config.address = {ipv4(10, 8, 0, 2), 24};
  config.endpoint = {ipv4(198, 51, 100, 7), 51820, 0};
  config.allowed_ips = {network(ipv4(0, 0, 0, 0), 0)};
  config.mtu = 1420;
  config.keepalive = 25;
  return config;
}

struct PeerCase {
  const char* name;
  std::vector<IpNetwork> allowed_ips;
  SocketAddress endpoint;
  std::uint16_t keepalive;
  std::string peer_key;
  const char* expected_command;
};

class ConfigurePeer : public ::testing::TestWithParam<PeerCase> {};

TEST_P(ConfigurePeer, FeedsTheKeyAndRendersTheRest) {
  const PeerCase& scenario = GetParam();
  ValidatedConfig config = typical_config();
  config.allowed_ips = scenario.allowed_ips;
  config.endpoint = scenario.endpoint;
  config.keepalive = scenario.keepalive;
  config.peer_public_key = scenario.peer_key;
  RecordingHost host;
  EXPECT_TRUE(configure_peer(host, config).ok());
  EXPECT_EQ(std::vector<std::string>{std::string("key: ") + scenario.expected_command + " <<< " + PRIVATE_KEY},
            host.log);
}

INSTANTIATE_TEST_SUITE_P(
    Renderings, ConfigurePeer,
    ::testing::Values(
        PeerCase{"default_network_adds_fwmark",
                 {network(ipv4(0, 0, 0, 0), 0)},
                 {ipv4(198, 51, 100, 7), 51820, 0},
                 25,
                 PEER_KEY,
                 "wg set ferroglade private-key /dev/stdin fwmark 51821 peer "
                 "QkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkI= endpoint 198.51.100.7:51820 "
                 "persistent-keepalive 25 allowed-ips 0.0.0.0/0"},
        PeerCase{"networks_joined_without_fwmark_keepalive_zero",
                 {network(ipv4(10, 0, 0, 0), 8), network(ipv4(192, 168, 1, 0), 24)},
                 {ipv4(198, 51, 100, 7), 51820, 0},
                 0,
                 PEER_KEY,
                 "wg set ferroglade private-key /dev/stdin peer QkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkI= "
                 "endpoint 198.51.100.7:51820 persistent-keepalive 0 allowed-ips 10.0.0.0/8,192.168.1.0/24"},
        PeerCase{"ipv6_default_and_scoped_endpoint",
                 {network(ipv6({}), 0)},
                 {ipv6({0xfe80, 0, 0, 0, 0, 0, 0, 1}), 51820, 3},
                 25,
                 PEER_KEY,
                 "wg set ferroglade private-key /dev/stdin fwmark 51821 peer "
                 "QkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkI= endpoint [fe80::1%3]:51820 "
                 "persistent-keepalive 25 allowed-ips ::/0"},
        PeerCase{"ipv6_endpoint_without_scope",
                 {network(ipv6({0xfd00}), 64)},
                 {ipv6({0x2001, 0xdb8, 0, 0, 0, 0, 0, 7}), 443, 0},
                 600,
                 " \t" + std::string(PEER_KEY) + "\n",
                 "wg set ferroglade private-key /dev/stdin peer QkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkI= "
                 "endpoint [2001:db8::7]:443 persistent-keepalive 600 allowed-ips fd00::/64"}),
    [](const ::testing::TestParamInfo<PeerCase>& info) { return std::string(info.param.name); });

TEST(ConfigurePeer, PassesWgErrorsOnUnchanged) {
  RecordingHost host;
  host.fail("wg set", "wg set: Name or service not known");
  const Status outcome = configure_peer(host, typical_config());
  ASSERT_FALSE(outcome.ok());
  EXPECT_EQ("wg set: Name or service not known", outcome.error().text);
}

TEST(ConfigurePeer, NeverPassesTheKeyOnInAnErrorText) {
  RecordingHost host;
  host.fail("wg set", std::string("wg set: Key is not the correct length or format: `") + PRIVATE_KEY + "'");
  const Status outcome = configure_peer(host, typical_config());
  ASSERT_FALSE(outcome.ok());
  EXPECT_EQ("wg set: Key is not the correct length or format: `(private key)'", outcome.error().text);
}

TEST(DeviceCommands, RunTheirCommandsAndWordTheirFailures) {
  const ValidatedConfig config = typical_config();
  RecordingHost host;
  EXPECT_TRUE(create_link(host).ok());
  EXPECT_TRUE(assign_address(host, config).ok());
  EXPECT_TRUE(set_mtu_and_up(host, config).ok());
  // The interface address keeps its host bits.
  EXPECT_EQ((std::vector<std::string>{"run_tool: ip link add ferroglade type wireguard",
                                      "run_tool: ip -4 address add 10.8.0.2/24 dev ferroglade",
                                      "run_tool: ip link set dev ferroglade mtu 1420 up"}),
            host.log);

  RecordingHost failing;
  failing.fail("ip", "ip: No such file or directory (os error 2)");
  const Status created = create_link(failing);
  ASSERT_FALSE(created.ok());
  EXPECT_EQ("wireguard_module: ip: No such file or directory (os error 2)", created.error().text);
  const Status addressed = assign_address(failing, config);
  ASSERT_FALSE(addressed.ok());
  EXPECT_EQ("ip: No such file or directory (os error 2)", addressed.error().text);
}

}  // namespace
}  // namespace ferroglade
