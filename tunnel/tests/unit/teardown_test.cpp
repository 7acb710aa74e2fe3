#include "main/teardown.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unit/recording_host.hpp"

namespace ferroglade {
namespace {

using testing::RecordingHost;
using testing::RULE_DELETIONS;

const std::string LINK_DELETION = "run_tool: ip link del dev ferroglade";
const std::string RECORD_DELETION = "tool_succeeds: resolvconf -d tun.ferroglade -f";

TEST(TearDown, RefusesOrdinaryUsersBeforeRunningAnything) {
  RecordingHost host;
  host.root = false;
  const Status outcome = tear_down(host);
  ASSERT_FALSE(outcome.ok());
  EXPECT_EQ("must run as root (pkexec)", outcome.error().text);
  EXPECT_EQ((std::vector<std::string>{"reset_search_path", "is_root?"}), host.log);
}

TEST(TearDown, WithNothingThereTriesEachRuleOnceAndSucceeds) {
  RecordingHost host;
  EXPECT_TRUE(tear_down(host).ok());
  std::vector<std::string> expected{"reset_search_path", "is_root?"};
  expected.insert(expected.end(), RULE_DELETIONS.begin(), RULE_DELETIONS.end());
  expected.insert(expected.end(), {"link_exists?", "tool_on_path? resolvconf"});
  EXPECT_EQ(expected, host.log);
}

struct RepeatCase {
  std::size_t copies;
  std::size_t expected_runs;
};

class RuleCopies : public ::testing::TestWithParam<RepeatCase> {};

TEST_P(RuleCopies, AreDeletedUntilNoneIsLeftOrEightRunsWereMade) {
  RecordingHost host;
  host.succeed("ip -6 rule del pref 32740", GetParam().copies);
  EXPECT_TRUE(tear_down(host).ok());
  std::vector<std::string> expected(RULE_DELETIONS.begin(), RULE_DELETIONS.end() - 1);
  expected.insert(expected.end(), GetParam().expected_runs, RULE_DELETIONS.back());
  EXPECT_EQ(expected, host.actions());
}

INSTANTIATE_TEST_SUITE_P(Counts, RuleCopies,
                         ::testing::Values(RepeatCase{1, 2}, RepeatCase{3, 4}, RepeatCase{7, 8}, RepeatCase{8, 8},
                                           RepeatCase{9, 8}));

struct EndCase {
  const char* name;
  bool link;
  bool resolvconf;
  bool foreign_netns;
  bool link_deletion_fails;
  std::vector<std::string> expected_after_rules;
};

class TearDownEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(TearDownEnd, DeletesTheLinkThenTheRecord) {
  const EndCase& scenario = GetParam();
  RecordingHost host;
  host.link = scenario.link;
  host.foreign_netns = scenario.foreign_netns;
  if (scenario.resolvconf) {
    host.tools_on_path.insert("resolvconf");
  }
  if (scenario.link_deletion_fails) {
    host.fail("ip link del", "ip link del dev ferroglade: Operation not permitted");
  }
  const Status outcome = tear_down(host);
  EXPECT_EQ(!scenario.link_deletion_fails, outcome.ok());
  if (!outcome.ok()) {
    EXPECT_EQ("ip link del dev ferroglade: Operation not permitted", outcome.error().text);
  }
  const std::vector<std::string> actions = host.actions();
  EXPECT_EQ(scenario.expected_after_rules, std::vector<std::string>(actions.begin() + 4, actions.end()));
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, TearDownEnd,
    ::testing::Values(EndCase{"link_and_resolvconf", true, true, false, false, {LINK_DELETION, RECORD_DELETION}},
                      EndCase{"no_link_still_withdraws_the_record", false, true, false, false, {RECORD_DELETION}},
                      EndCase{"no_resolvconf", true, false, false, false, {LINK_DELETION}},
                      EndCase{"foreign_namespace_leaves_the_record", true, true, true, false, {LINK_DELETION}},
                      EndCase{"failed_link_deletion_keeps_the_record", true, true, false, true, {LINK_DELETION}}),
    [](const ::testing::TestParamInfo<EndCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ferroglade
