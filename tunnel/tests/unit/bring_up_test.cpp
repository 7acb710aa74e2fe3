#include "main/bring_up.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "unit/recording_host.hpp"

namespace ferroglade {
namespace {

using testing::RecordingHost;
using testing::RULE_DELETIONS;

constexpr const char* PRIVATE_KEY = "AQIDBAUGBwgJCgsMDQ4PEBESExQVFhcYGRobHB0eHyA=";
constexpr const char* PEER_KEY = "QkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkI=";

TunnelConfig document(std::vector<std::string> allowed_ips = {"0.0.0.0/0"},
                      std::optional<std::string> dns = "10.8.0.1") {
  TunnelConfig config;
  config.private_key = SecretText(PRIVATE_KEY);
  config.address = "10.8.0.2/24";
  config.dns = std::move(dns);
  config.mtu = 1420;
  config.peer_public_key = PEER_KEY;
  config.endpoint = "198.51.100.7:51820";
  config.allowed_ips = std::move(allowed_ips);
  config.keepalive = 25;
  return config;
}

// Logs the read, so a test sees whether and when the document was read.
ConfigReader reader(
    RecordingHost& host, const std::function<TunnelConfig()>& make = [] { return document(); }) {
  return [&host, make]() -> Result<TunnelConfig> {
    host.log.emplace_back("read_config?");  // a question to the outside, like a probe
    return make();
  };
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The Overview's road: host namespace, systemd-resolved, no resolvconf.
const std::vector<std::string> TYPICAL_AFTER_CLEAN_START{
    "run_tool: ip link add ferroglade type wireguard",
    std::string("key: wg set ferroglade private-key /dev/stdin fwmark 51821 peer ") + PEER_KEY +
        " endpoint 198.51.100.7:51820 persistent-keepalive 25 allowed-ips 0.0.0.0/0 <<< " + PRIVATE_KEY,
    "run_tool: ip -4 address add 10.8.0.2/24 dev ferroglade",
    "run_tool: ip link set dev ferroglade mtu 1420 up",
    "run_tool: ip -4 route add 0.0.0.0/0 dev ferroglade table 51821",
    "run_tool: ip -4 rule add not fwmark 51821 table 51821 pref 32741",
    "run_tool: ip -4 rule add table main suppress_prefixlength 0 pref 32740",
    "write_file: /proc/sys/net/ipv4/conf/all/src_valid_mark <<< 1",
    "tool_succeeds: resolvectl status",
    "run_tool: resolvectl dns ferroglade 10.8.0.1",
    "run_tool: resolvectl domain ferroglade ~.",
    "tool_succeeds: resolvectl default-route ferroglade true",
};

RecordingHost typical_host() {
  RecordingHost host;
  host.tools_on_path.insert("resolvectl");
  host.succeed("resolvectl status");
  return host;
}

TEST(BringUp, TypicalRoadRunsEveryCommandInOrder) {
  RecordingHost host = typical_host();
  const Status outcome = bring_up(host, reader(host));
  EXPECT_TRUE(outcome.ok()) << outcome.error().text;
  EXPECT_EQ(RULE_DELETIONS + TYPICAL_AFTER_CLEAN_START, host.actions());
  // Checks come first, in order, before the clean start touches anything.
  EXPECT_EQ((std::vector<std::string>{"reset_search_path", "is_root?", "read_config?", "tool_on_path? wg",
                                      "reset_search_path", "is_root?"}),
            std::vector<std::string>(host.log.begin(), host.log.begin() + 6));
}

TEST(BringUp, RefusalsChangeNothing) {
  {
    RecordingHost host;
    host.root = false;
    const Status outcome = bring_up(host, reader(host));
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ("must run as root (pkexec)", outcome.error().text);
    EXPECT_EQ((std::vector<std::string>{"reset_search_path", "is_root?"}), host.log);
  }
  {
    RecordingHost host;
    const Status outcome =
        bring_up(host, [] { return Result<TunnelConfig>(fail("config json: EOF at line 1 column 0")); });
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ("config json: EOF at line 1 column 0", outcome.error().text);
    EXPECT_EQ((std::vector<std::string>{"reset_search_path", "is_root?"}), host.log);
  }
  {
    RecordingHost host;
    const Status outcome = bring_up(host, reader(host, [] { return document({}); }));
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ((std::vector<std::string>{"reset_search_path", "is_root?", "read_config?"}), host.log);
  }
  {
    RecordingHost host;
    host.tools_on_path.erase("wg");
    const Status outcome = bring_up(host, reader(host));
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ("wg_missing", outcome.error().text);
    EXPECT_TRUE(host.actions().empty());
  }
}

struct FailingStep {
  const char* name;
  const char* prefix;
  const char* expected_error;
};

class BringUpRollback : public ::testing::TestWithParam<FailingStep> {};

TEST_P(BringUpRollback, TearsDownOnceAndReturnsTheStepsText) {
  RecordingHost host = typical_host();
  host.fail(GetParam().prefix, "step failed");
  // The cleanup's own failure must not replace the step's text.
  host.fail("ip link del", "cleanup failed");
  host.link = true;
  const Status outcome = bring_up(host, reader(host));
  ASSERT_FALSE(outcome.ok());
  EXPECT_EQ(GetParam().expected_error, outcome.error().text);

  const std::vector<std::string> actions = host.actions();
  const auto cleanups = std::count(actions.begin(), actions.end(), RULE_DELETIONS[0]);
  EXPECT_EQ(2, cleanups) << "clean start and rollback";
  // The failing command is the last one before the rollback starts.
  const std::size_t rollback = actions.size() - RULE_DELETIONS.size() - 1;
  EXPECT_TRUE(actions[rollback - 1].find(GetParam().prefix) != std::string::npos) << actions[rollback - 1];
  EXPECT_EQ(RULE_DELETIONS + std::vector<std::string>{"run_tool: ip link del dev ferroglade"},
            std::vector<std::string>(actions.begin() + static_cast<std::ptrdiff_t>(rollback), actions.end()));
}

INSTANTIATE_TEST_SUITE_P(Steps, BringUpRollback,
                         ::testing::Values(FailingStep{"create_link", "ip link add", "wireguard_module: step failed"},
                                           FailingStep{"configure_peer", "wg set", "step failed"},
                                           FailingStep{"assign_address", "ip -4 address add", "step failed"},
                                           FailingStep{"set_mtu_and_up", "ip link set", "step failed"},
                                           FailingStep{"route", "ip -4 route add", "step failed"},
                                           FailingStep{"tunnel_rule", "ip -4 rule add not", "step failed"},
                                           FailingStep{"main_rule", "ip -4 rule add table main", "step failed"},
                                           FailingStep{"dns", "resolvectl dns", "step failed"}),
                         [](const ::testing::TestParamInfo<FailingStep>& info) {
                           return std::string(info.param.name);
                         });

TEST(BringUp, PrivateKeyReachesOnlyWgsInput) {
  for (const char* failing : {"", "wg set", "ip -4 address add", "resolvectl dns"}) {
    RecordingHost host = typical_host();
    if (*failing != '\0') {
      host.fail(failing, "failed");
    }
    const Status outcome = bring_up(host, reader(host));
    for (const std::string& entry : host.log) {
      const std::size_t at = entry.find(PRIVATE_KEY);
      if (at != std::string::npos) {
        EXPECT_TRUE(entry.starts_with("key: wg set")) << entry;
        EXPECT_GT(at, entry.find(" <<< ")) << entry;
      }
    }
    if (!outcome.ok()) {
      EXPECT_EQ(std::string::npos, outcome.error().text.find(PRIVATE_KEY));
    }
  }
}

// Absent dns and foreign namespaces are the DNS step's own business; here only
// the hand-over matters: the server reaches the backend in canonical form.
TEST(BringUp, HandsTheDnsServerOnInCanonicalForm) {
  RecordingHost host = typical_host();
  const auto full_form = [] { return document({"0.0.0.0/0"}, "2001:0db8:0000:0000:0000:0000:0000:0053"); };
  EXPECT_TRUE(bring_up(host, reader(host, full_form)).ok());
  const std::vector<std::string> actions = host.actions();
  EXPECT_NE(actions.end(),
            std::find(actions.begin(), actions.end(), "run_tool: resolvectl dns ferroglade 2001:db8::53"));
}

TEST(BringUp, HostWithoutIpv6WarnsPerFailingEntryThenSetsDns) {
  RecordingHost host = typical_host();
  host.ipv6 = false;
  host.fail("ip -6", "ip -6 route add: RTNETLINK answers: Operation not supported");
  EXPECT_TRUE(bring_up(host, reader(host, [] { return document({"0.0.0.0/0", "::/0", "fd00::/64"}); })).ok());
  const std::vector<std::string> actions = host.actions();
  const std::string warning =
      "warn: warning: no IPv6 on this system: ip -6 route add: RTNETLINK answers: Operation not supported\n";
  EXPECT_EQ(2, std::count(actions.begin(), actions.end(), warning));
  EXPECT_EQ("tool_succeeds: resolvectl default-route ferroglade true", actions.back());
}

}  // namespace
}  // namespace ferroglade
