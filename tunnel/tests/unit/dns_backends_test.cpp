#include "linux/dns_backends.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "unit/recording_host.hpp"

namespace ferroglade {
namespace {

using testing::RecordingHost;

constexpr const char* NO_BACKEND = "dns: neither systemd-resolved nor resolvconf is available";
const std::string RESOLVCONF_ADD = "resolver: resolvconf -a tun.ferroglade -m 0 -x <<< 10.8.0.1";
const std::vector<std::string> RESOLVED{
    "run_tool: resolvectl dns ferroglade 10.8.0.1",
    "run_tool: resolvectl domain ferroglade ~.",
    "tool_succeeds: resolvectl default-route ferroglade true",
};

struct DnsCase {
  const char* name;
  std::vector<std::string> tools;
  bool status_succeeds;
  std::vector<std::pair<std::string, Error>> failures;
  std::vector<std::string> expected_actions;
  const char* expected_error;  // nullptr: success
};

class ConfigureDns : public ::testing::TestWithParam<DnsCase> {};

TEST_P(ConfigureDns, PicksABackendAndRunsIt) {
  const DnsCase& scenario = GetParam();
  RecordingHost host;
  host.tools_on_path.insert(scenario.tools.begin(), scenario.tools.end());
  if (scenario.status_succeeds) {
    host.succeed("resolvectl status");
  }
  for (const auto& [prefix, error] : scenario.failures) {
    host.fail(prefix, error);
  }
  const Status outcome = set_up_dns(host, "10.8.0.1");
  EXPECT_EQ(scenario.expected_actions, host.actions());
  if (scenario.expected_error == nullptr) {
    EXPECT_TRUE(outcome.ok()) << outcome.error().text;
  } else {
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(scenario.expected_error, outcome.error().text);
  }
}

std::vector<std::string> with_status_probe(const std::vector<std::string>& rest) {
  std::vector<std::string> actions{"tool_succeeds: resolvectl status"};
  actions.insert(actions.end(), rest.begin(), rest.end());
  return actions;
}

const Error UNSUCCESSFUL{"", true};

INSTANTIATE_TEST_SUITE_P(
    Hosts, ConfigureDns,
    ::testing::Values(
        DnsCase{"resolved_preferred", {"resolvectl", "resolvconf"}, true, {}, with_status_probe(RESOLVED), nullptr},
        DnsCase{"resolved_not_running_falls_back",
                {"resolvectl", "resolvconf"},
                false,
                {},
                with_status_probe({RESOLVCONF_ADD}),
                nullptr},
        DnsCase{"resolved_not_running_and_no_resolvconf", {"resolvectl"}, false, {}, with_status_probe({}), NO_BACKEND},
        DnsCase{"resolvconf_only", {"resolvconf"}, false, {}, {RESOLVCONF_ADD}, nullptr},
        DnsCase{"no_backend_runs_nothing", {}, false, {}, {}, NO_BACKEND},
        DnsCase{"resolvconf_exit_status_is_no_backend",
                {"resolvconf"},
                false,
                {{"resolvconf", UNSUCCESSFUL}},
                {RESOLVCONF_ADD},
                NO_BACKEND},
        DnsCase{"resolvconf_start_failure_is_the_bare_system_error",
                {"resolvconf"},
                false,
                {{"resolvconf", Error{"Permission denied (os error 13)"}}},
                {RESOLVCONF_ADD},
                "Permission denied (os error 13)"},
        DnsCase{"resolvectl_dns_failure_stops_with_no_fallback",
                {"resolvectl", "resolvconf"},
                true,
                {{"resolvectl dns", Error{"resolvectl dns ferroglade 10.8.0.1: Failed"}}},
                with_status_probe({RESOLVED[0]}),
                "resolvectl dns ferroglade 10.8.0.1: Failed"}),
    [](const ::testing::TestParamInfo<DnsCase>& info) { return std::string(info.param.name); });

TEST(SetUpDns, AbsentServerTouchesNothingEvenInAForeignNamespace) {
  RecordingHost host;
  host.foreign_netns = true;
  EXPECT_TRUE(set_up_dns(host, std::nullopt).ok());
  EXPECT_TRUE(host.log.empty());
}

TEST(SetUpDns, ForeignNamespaceWarnsOnceAndSucceeds) {
  RecordingHost host;
  host.foreign_netns = true;
  host.tools_on_path.insert({"resolvectl", "resolvconf"});
  EXPECT_TRUE(set_up_dns(host, "10.8.0.1").ok());
  EXPECT_EQ((std::vector<std::string>{"in_foreign_netns?", "warn: warning: network namespace: DNS left alone\n"}),
            host.log);
}

struct RemoveCase {
  bool resolvconf;
  bool foreign_netns;
  bool runs_deletion;
};

class RemoveDns : public ::testing::TestWithParam<RemoveCase> {};

TEST_P(RemoveDns, WithdrawsTheRecordOnlyWhereItCanExist) {
  RecordingHost host;
  host.foreign_netns = GetParam().foreign_netns;
  if (GetParam().resolvconf) {
    host.tools_on_path.insert("resolvconf");
  }
  remove_dns(host);
  const std::vector<std::string> expected =
      GetParam().runs_deletion ? std::vector<std::string>{"tool_succeeds: resolvconf -d tun.ferroglade -f"}
                               : std::vector<std::string>{};
  EXPECT_EQ(expected, host.actions());
}

INSTANTIATE_TEST_SUITE_P(Hosts, RemoveDns,
                         ::testing::Values(RemoveCase{true, false, true}, RemoveCase{false, false, false},
                                           RemoveCase{true, true, false}));

}  // namespace
}  // namespace ferroglade
