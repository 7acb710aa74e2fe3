#include "main/bring_up.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "unit/recording_host.hpp"
#include "unit/test_support.hpp"

namespace ferroglade {
namespace {

using testing::PRIVATE_KEY;
using testing::RecordingHost;
using testing::typical_document;

// Logs the read, so a test sees whether and when the document was read.
ConfigReader reader(
    RecordingHost& host, const std::function<Result<TunnelConfig>()>& make = [] { return typical_document(); }) {
  return [&host, make]() -> Result<TunnelConfig> {
    host.log.emplace_back("read_config?");  // a question to the outside, like a probe
    return make();
  };
}

RecordingHost typical_host() {
  RecordingHost host;
  host.tools_on_path.insert("resolvectl");
  host.succeed("resolvectl status");
  return host;
}

TEST(BringUp, ChecksRunInOrderAndARefusalChangesNothing) {
  using Log = std::vector<std::string>;
  const Log checks{"reset_search_path", "is_root?", "read_config?"};
  const struct {
    const char* name;
    bool root;
    bool wg;
    std::function<Result<TunnelConfig>()> document;
    const char* expected;  // nullptr: success
    Log expected_log;
  } cases[] = {
      {"not root", false, true, typical_document, "must run as root (pkexec)", {"reset_search_path", "is_root?"}},
      {"unreadable document", true, true, [] { return Result<TunnelConfig>(fail("config json: EOF")); },
       "config json: EOF", checks},
      // The document is judged before the host's tools.
      {"invalid document without wg", true, false,
       [] {
         TunnelConfig config = typical_document();
         config.allowed_ips.clear();
         return config;
       },
       "allowed_ips: 1..16 entries", checks},
      {"no wg",
       true,
       false,
       typical_document,
       "wg_missing",
       {"reset_search_path", "is_root?", "read_config?", "tool_on_path? wg"}},
      // The clean start begins by asking again.
      {"typical",
       true,
       true,
       typical_document,
       nullptr,
       {"reset_search_path", "is_root?", "read_config?", "tool_on_path? wg", "reset_search_path", "is_root?"}},
  };
  for (const auto& c : cases) {
    RecordingHost host = typical_host();
    host.root = c.root;
    if (!c.wg) {
      host.tools_on_path.erase("wg");
    }
    const Status outcome = bring_up(host, reader(host, c.document));
    if (c.expected == nullptr) {
      EXPECT_TRUE(outcome.ok()) << c.name << ": " << outcome.error().text;
      ASSERT_LE(c.expected_log.size(), host.log.size()) << c.name;
      EXPECT_EQ(c.expected_log, Log(host.log.begin(), host.log.begin() + std::ssize(c.expected_log))) << c.name;
    } else {
      ASSERT_FALSE(outcome.ok()) << c.name;
      EXPECT_EQ(c.expected, outcome.error().text) << c.name;
      EXPECT_EQ(c.expected_log, host.log) << c.name;
    }
  }
}

TEST(BringUp, PrivateKeyReachesOnlyWgsInput) {
  const std::string key(PRIVATE_KEY);
  const struct {
    const char* failing;  // "": nothing fails
    std::string failure;
    const char* expected;
  } cases[] = {
      {"", "", nullptr},
      // wg is not ours: should it quote its input, the key must not travel on.
      {"wg set", "wg set: `" + key + "' is not a key: " + key, "wg set: `(private key)' is not a key: (private key)"},
      {"ip -4 address add", "failed", "failed"},
      {"resolvectl dns", "failed", "failed"},
  };
  for (const auto& c : cases) {
    RecordingHost host = typical_host();
    if (*c.failing != '\0') {
      host.fail(c.failing, c.failure);
    }
    const Status outcome = bring_up(host, reader(host));
    for (const std::string& entry : host.log) {
      const std::size_t at = entry.find(PRIVATE_KEY);
      if (at != std::string::npos) {
        EXPECT_TRUE(entry.starts_with("key: wg set")) << entry;
        EXPECT_GT(at, entry.find(" <<< ")) << entry;
      }
    }
    if (c.expected == nullptr) {
      EXPECT_TRUE(outcome.ok()) << outcome.error().text;
    } else {
      ASSERT_FALSE(outcome.ok()) << c.failing;
      EXPECT_EQ(c.expected, outcome.error().text);
    }
  }
}

TEST(BringUp, SrcValidMarkIsWrittenAfterBothRulesAndItsFailureIgnored) {
  const std::string main_rule = "run_tool: ip -4 rule add table main suppress_prefixlength 0 pref 32740";
  const std::string write = "write_file: /proc/sys/net/ipv4/conf/all/src_valid_mark <<< 1";
  RecordingHost unwritable = typical_host();
  unwritable.write_succeeds = false;
  const Status outcome = bring_up(unwritable, reader(unwritable));
  EXPECT_TRUE(outcome.ok()) << outcome.error().text;
  const auto written = std::find(unwritable.log.begin(), unwritable.log.end(), write);
  ASSERT_NE(unwritable.log.end(), written);
  EXPECT_EQ(main_rule, *(written - 1));
  EXPECT_EQ(1, std::count(unwritable.log.begin(), unwritable.log.end(), write));

  RecordingHost refused = typical_host();
  refused.fail("ip -4 rule add table main", "refused");
  EXPECT_EQ("refused", bring_up(refused, reader(refused)).error().text);
  EXPECT_EQ(0, std::count(refused.log.begin(), refused.log.end(), write));
}

// Once systemd-resolved has the server, a failing step must not end in a second
// record with resolvconf.
TEST(BringUp, ResolvedFailureDoesNotFallBackToResolvconf) {
  for (const char* failing : {"resolvectl dns", "resolvectl domain"}) {
    RecordingHost host = typical_host();
    host.tools_on_path.insert("resolvconf");
    host.fail(failing, "resolvectl: Failed");
    const Status outcome = bring_up(host, reader(host));
    ASSERT_FALSE(outcome.ok()) << failing;
    EXPECT_EQ("resolvectl: Failed", outcome.error().text);
    for (const std::string& action : host.actions()) {
      EXPECT_FALSE(action.starts_with("resolver:")) << failing << ": " << action;
    }
  }
}

}  // namespace
}  // namespace ferroglade
