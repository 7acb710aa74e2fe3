#include "main/routing.hpp"

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

const IpNetwork ANY4 = network(ipv4(0, 0, 0, 0), 0);
const IpNetwork ANY6 = network(ipv6({}), 0);
const IpNetwork TEN = network(ipv4(10, 0, 0, 0), 8);
const IpNetwork LAN = network(ipv4(192, 168, 1, 0), 24);
const IpNetwork ULA = network(ipv6({0xfd00}), 64);

const std::vector<std::string> POLICY4{
    "run_tool: ip -4 route add 0.0.0.0/0 dev ferroglade table 51821",
    "run_tool: ip -4 rule add not fwmark 51821 table 51821 pref 32741",
    "run_tool: ip -4 rule add table main suppress_prefixlength 0 pref 32740",
    "write_file: /proc/sys/net/ipv4/conf/all/src_valid_mark <<< 1",
};
const std::vector<std::string> POLICY6{
    "run_tool: ip -6 route add ::/0 dev ferroglade table 51821",
    "run_tool: ip -6 rule add not fwmark 51821 table 51821 pref 32741",
    "run_tool: ip -6 rule add table main suppress_prefixlength 0 pref 32740",
};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct RoutingCase {
  const char* name;
  std::vector<IpNetwork> allowed_ips;
  bool host_ipv6;
  const char* failing_prefix;  // nullptr: every command succeeds
  std::vector<std::string> expected_log;
  const char* expected_error;  // nullptr: success
};

class InstallRoutes : public ::testing::TestWithParam<RoutingCase> {};

TEST_P(InstallRoutes, RunsExactlyTheseCommands) {
  const RoutingCase& scenario = GetParam();
  RecordingHost host;
  host.ipv6 = scenario.host_ipv6;
  if (scenario.failing_prefix != nullptr) {
    host.fail(scenario.failing_prefix, "refused");
  }
  const Status outcome = install_routes(host, scenario.allowed_ips);
  EXPECT_EQ(scenario.expected_log, host.log);
  if (scenario.expected_error == nullptr) {
    EXPECT_TRUE(outcome.ok()) << outcome.error().text;
  } else {
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(scenario.expected_error, outcome.error().text);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, InstallRoutes,
    ::testing::Values(
        RoutingCase{"ipv4_default_only", {ANY4}, true, nullptr, POLICY4, nullptr},
        RoutingCase{"both_defaults_in_document_order", {ANY4, ANY6}, true, nullptr, POLICY4 + POLICY6, nullptr},
        RoutingCase{"specific_networks_use_the_main_table",
                    {TEN, ULA},
                    true,
                    nullptr,
                    {"run_tool: ip -4 route add 10.0.0.0/8 dev ferroglade",
                     "run_tool: ip -6 route add fd00::/64 dev ferroglade"},
                    nullptr},
        RoutingCase{
            "ipv6_failure_without_host_ipv6_warns_and_goes_on",
            {ANY4, ANY6, TEN},
            false,
            "ip -6",
            POLICY4 + std::vector<std::string>{"run_tool: ip -6 route add ::/0 dev ferroglade table 51821",
                                               "ipv6_available?", "warn: warning: no IPv6 on this system: refused\n",
                                               "run_tool: ip -4 route add 10.0.0.0/8 dev ferroglade"},
            nullptr},
        RoutingCase{"each_ipv6_failure_asks_again_and_warns_again",
                    {ULA, ANY6},
                    false,
                    "ip -6",
                    {"run_tool: ip -6 route add fd00::/64 dev ferroglade", "ipv6_available?",
                     "warn: warning: no IPv6 on this system: refused\n",
                     "run_tool: ip -6 route add ::/0 dev ferroglade table 51821", "ipv6_available?",
                     "warn: warning: no IPv6 on this system: refused\n"},
                    nullptr},
        RoutingCase{"ipv6_failure_with_host_ipv6_is_fatal",
                    {ULA, TEN},
                    true,
                    "ip -6",
                    {"run_tool: ip -6 route add fd00::/64 dev ferroglade", "ipv6_available?"},
                    "refused"},
        RoutingCase{"ipv4_failure_stops_without_asking_about_ipv6",
                    {TEN, LAN, ULA},
                    false,
                    "ip -4 route add 192.168",
                    {"run_tool: ip -4 route add 10.0.0.0/8 dev ferroglade",
                     "run_tool: ip -4 route add 192.168.1.0/24 dev ferroglade"},
                    "refused"},
        RoutingCase{"failed_rule_leaves_src_valid_mark_alone",
                    {ANY4},
                    true,
                    "ip -4 rule add table main",
                    {POLICY4[0], POLICY4[1], POLICY4[2]},
                    "refused"}),
    [](const ::testing::TestParamInfo<RoutingCase>& info) { return std::string(info.param.name); });

TEST(InstallRoutes, IgnoresAFailedSrcValidMarkWrite) {
  RecordingHost host;
  host.write_succeeds = false;
  const Status outcome = install_routes(host, {ANY4});
  EXPECT_TRUE(outcome.ok());
  EXPECT_EQ(POLICY4, host.log);
}

}  // namespace
}  // namespace ferroglade
