// The three commands over a recording host: each row a host, the exact changes and
// lines the command makes, in order, and its exit status.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "linux/system_error.hpp"
#include "main/front_end.hpp"

namespace ferroglade {
namespace {

using Log = std::vector<std::string>;

const std::string KEY = "AQIDBAUGBwgJCgsMDQ4PEBESExQVFhcYGRobHB0eHyA=";
const std::string PEER = "QkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkI=";

std::string document(const std::string& allowed = R"(["0.0.0.0/0"])", const std::string& dns = R"("10.8.0.1")") {
  return "[\" " + KEY + "\\n\", \"10.8.0.2/24\", " + dns + ", 1420, \"" + PEER + "\", \"198.51.100.7:51820\", " +
         allowed + ", 25]";
}

/// What the host holds before the command runs. `failing` maps the start of a command
/// line to the standard error of its failure; `rules4` and `rules6` count the copies of
/// each of the two policy rules per family. Without IPv6 every `ip -6` fails.
struct HostState {
  bool root = true;
  bool foreign = false;
  bool ipv6 = true;
  bool link = false;
  std::set<std::string, std::less<>> tools{"ip", "wg", "resolvectl"};
  std::map<std::string, std::string> failing{};
  int rules4 = 0;
  int rules6 = 0;
  std::string input = document();
  std::optional<InputFile> input_file{};
  bool output_broken = false;
};

class RecordingHost final : public Host {
 public:
  explicit RecordingHost(HostState state) : state_(std::move(state)) {
    for (const char* pref : {" 32740", " 32741"}) {
      rules_[std::string("-4") + pref] = state_.rules4;
      rules_[std::string("-6") + pref] = state_.rules6;
    }
  }
  Log log;

  void reset_search_path() override { path_reset_ = true; }
  Status run_tool(const CommandLine& command) override {
    const std::string* complaint = run(command);
    return complaint ? fail(joined(command) + ": " + *complaint) : Status();
  }
  bool tool_succeeds(const CommandLine& command) override { return run(command) == nullptr; }
  Result<ToolOutcome> run_tool_with_input(const CommandLine& command, std::string_view input,
                                          ToolOutput output) override {
    const std::string* complaint = run(command, std::string(input));
    const bool captured = complaint != nullptr && output == ToolOutput::captured;
    return ToolOutcome{complaint == nullptr, SecretText(captured ? *complaint : "")};
  }
  bool is_root() override { return state_.root; }
  bool in_foreign_netns() override { return state_.foreign; }
  bool tool_on_path(std::string_view name) override { return path_reset_ && state_.tools.contains(name); }
  bool link_exists(std::string_view name) override { return state_.link && name == "ferroglade"; }
  bool ipv6_available() override { return state_.ipv6; }
  std::optional<InputFile> input_file() override { return state_.input_file; }
  void serialise_runs(std::string_view path) override {
    if (!locked_) {
      log.push_back("lock " + std::string(path));
      locked_ = true;
    }
  }
  bool write_file(std::string_view path, std::string_view content) override {
    log.push_back(std::string(path) + " <<< " + std::string(content));
    return !state_.failing.contains(std::string(path));
  }
  Result<std::size_t> read_input(std::span<char> buffer) override {
    const std::size_t size = std::min(buffer.size(), state_.input.size());
    std::memcpy(buffer.data(), state_.input.data(), size);
    return size;
  }
  Status write_output(std::string_view text) override {
    log.push_back("stdout: " + std::string(text));
    return state_.output_broken ? fail(system_error_text(EPIPE)) : Status();
  }
  void write_error(std::string_view text) override { log.push_back("stderr: " + std::string(text)); }

 private:
  static std::string joined(const CommandLine& command) {
    std::string text;
    for (const std::string& argument : command) {
      text += (text.empty() ? "" : " ") + argument;
    }
    return text;
  }

  // Logs the run and applies it to the host; the complaint of a failure, or null.
  const std::string* run(const CommandLine& command, const std::string& input = "") {
    const std::string line = joined(command);
    log.push_back(input.empty() ? line : line + " <<< " + input);
    // The caller's search path may lead anywhere: tools are found only once it is reset.
    static const std::string not_found = "No such file or directory (os error 2)";
    if (!path_reset_) {
      return &not_found;
    }
    for (const auto& [start, complaint] : state_.failing) {
      if (line.starts_with(start)) {
        return &complaint;
      }
    }
    static const std::string no_ipv6 = "RTNETLINK answers: Address family not supported by protocol";
    if (!state_.ipv6 && line.starts_with("ip -6")) {
      return &no_ipv6;
    }
    if (command.size() > 3 && command[2] == "rule") {
      const auto pref = std::find(command.begin(), command.end(), "pref");
      int& copies = rules_[command[1] + (pref < command.end() - 1 ? " " + *(pref + 1) : "")];
      static const std::string no_rule = "RTNETLINK answers: No such file or directory";
      if (command[3] == "del" && copies == 0) {
        return &no_rule;
      }
      copies += command[3] == "del" ? -1 : 1;
    }
    state_.link = line.starts_with("ip link add") || (state_.link && !line.starts_with("ip link del"));
    return nullptr;
  }

  HostState state_;
  std::map<std::string, int> rules_;
  bool locked_ = false;
  bool path_reset_ = false;
};

Log operator+(Log a, const Log& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Log error(const std::string& text) { return {"stderr: error: " + text + "\n"}; }

Log warning(const std::string& text) { return {"stderr: warning: " + text + "\n"}; }

Log shared(const std::string& path, const std::string& mode) {
  return warning(path + " is accessible to other users (mode " + mode + "); it holds the private key");
}

Log no_ipv6(const std::string& command) {
  return warning("no IPv6 on this system: " + command +
                 ": RTNETLINK answers: Address family not supported by protocol");
}

/// Each rule deletion run as often as given: -4 tunnel and main rule, then -6.
Log deletions(int t4, int m4, int t6, int m6) {
  Log log;
  for (const auto& [family, tunnel, main] : {std::tuple{"-4", t4, m4}, std::tuple{"-6", t6, m6}}) {
    log.insert(log.end(), tunnel, std::string("ip ") + family + " rule del pref 32741 not fwmark 51821 table 51821");
    log.insert(log.end(), main,
               std::string("ip ") + family + " rule del pref 32740 table main suppress_prefixlength 0");
  }
  return log;
}

std::string wg_set(const std::string& allowed, bool fwmark) {
  return std::string("wg set ferroglade private-key /dev/stdin") + (fwmark ? " fwmark 51821" : "") + " peer " + PEER +
         " endpoint 198.51.100.7:51820 persistent-keepalive 25 allowed-ips " + allowed + " <<< " + KEY + "\n";
}

std::string route(const std::string& family, const std::string& network, const std::string& table = "") {
  return "ip " + family + " route add " + network + " dev ferroglade" + table;
}

std::string rule(const std::string& family, bool tunnel) {
  return "ip " + family + " rule add " +
         (tunnel ? "not fwmark 51821 table 51821 pref 32741" : "table main suppress_prefixlength 0 pref 32740");
}

const Log CLEAN = deletions(1, 1, 1, 1);
const Log LOCK = {"lock /run/ferroglade-tunnel.lock"};
const Log START = LOCK + CLEAN;
const std::string LINK_ADD = "ip link add ferroglade type wireguard";
const std::string WG = wg_set("0.0.0.0/0", true);
const std::string ADDRESS = "ip -4 address add 10.8.0.2/24 dev ferroglade";
const std::string LINK_UP = "ip link set dev ferroglade mtu 1420 up";
const std::string ROUTE4 = route("-4", "0.0.0.0/0", " table 51821");
const Log LINK_DEL = {"ip link del dev ferroglade"};
const Log MARK = {"/proc/sys/net/ipv4/conf/all/src_valid_mark <<< 1"};
const Log RESOLVED = {"resolvectl status", "resolvectl dns ferroglade 10.8.0.1", "resolvectl domain ferroglade ~.",
                      "resolvectl default-route ferroglade true"};
const Log RC_ADD = {"resolvconf -a tun.ferroglade -m 0 -x <<< nameserver 10.8.0.1\n"};
const Log RC_DEL = {"resolvconf -d tun.ferroglade -f"};
const Log USAGE = {"stderr: usage: ferroglade-tunnel <command>\n  up (config JSON on stdin) | down | status\n"};
const std::string DENIED = "RTNETLINK answers: Operation not permitted";
const std::string NO_DNS = "dns: neither systemd-resolved nor resolvconf is available";
const std::string FULL = R"(["0.0.0.0/0"])";
const std::set<std::string, std::less<>> WITH_RESOLVCONF{"ip", "wg", "resolvectl", "resolvconf"};
const std::set<std::string, std::less<>> ONLY_RESOLVCONF{"ip", "wg", "resolvconf"};

// The typical tunnel up to its DNS step, and the rollback once its IPv4 rules exist.
const Log TUNNEL = Log{LINK_ADD, WG, ADDRESS, LINK_UP, ROUTE4, rule("-4", true), rule("-4", false)} + MARK;
const Log ROLLBACK = deletions(2, 2, 1, 1) + LINK_DEL;

struct Row {
  const char* name;
  const char* word;
  HostState host;
  Log expected;
  int status;
};

// clang-format off
const Row ROWS[] = {
  {"status without the link", "status", {}, {"stdout: down\n"}, 0},
  {"status as nobody with the link", "status", {.root = false, .link = true}, {"stdout: up\n"}, 0},
  {"status into a broken pipe", "status", {.output_broken = true},
   Log{"stdout: down\n"} + error("standard output: Broken pipe (os error 32)"), 1},
  {"no command word", "", {}, USAGE, 2},
  {"a command word in capitals", "UP", {}, USAGE, 2},
  {"a command word with a space", "down ", {.link = true}, USAGE, 2},
  // The broken document shows that standard input is left unread.
  {"up as nobody", "up", {.root = false, .input = "{"}, error("must run as root (pkexec)"), 1},
  {"down as nobody", "down", {.root = false, .link = true}, error("must run as root (pkexec)"), 1},
  {"a broken document leaves the tunnel alone", "up", {.link = true, .input = "{"},
   LOCK + error("config json: EOF while parsing an object at line 1 column 1"), 1},
  {"the document is judged before wg is looked for", "up", {.tools = {"ip"}, .input = document("[]")},
   LOCK + error("allowed_ips: 1..16 entries"), 1},
  {"no wg", "up", {.link = true, .tools = {"ip"}}, LOCK + error("wg_missing"), 1},
  // The document holds the private key; a refused run reads nothing and says only why.
  {"a document others can read", "up", {.input_file = InputFile{"/etc/t.json", 0604}},
   LOCK + shared("/etc/t.json", "0604") + CLEAN + TUNNEL + RESOLVED, 0},
  {"a document its group can read, its path unknown", "up", {.input = "{", .input_file = InputFile{{}, 02640}},
   LOCK + shared("standard input", "2640") + error("config json: EOF while parsing an object at line 1 column 1"), 1},
  {"a document only its owner can read", "up", {.input_file = InputFile{"/etc/t.json", 0600}}, START + TUNNEL + RESOLVED, 0},
  {"a document only its owner can read, not write", "up", {.input_file = InputFile{"/t", 0400}},
   START + TUNNEL + RESOLVED, 0},
  {"a shared document, up refused", "up", {.root = false, .input_file = InputFile{"/t", 0644}},
   error("must run as root (pkexec)"), 1},

  {"up with systemd-resolved", "up", {}, START + TUNNEL + RESOLVED, 0},
  {"up with resolvconf", "up", {.tools = ONLY_RESOLVCONF}, START + RC_DEL + TUNNEL + RC_ADD, 0},
  {"resolvectl status failing: resolvconf", "up", {.tools = WITH_RESOLVCONF, .failing = {{"resolvectl status", ""}}},
   START + RC_DEL + TUNNEL + Log{RESOLVED[0]} + RC_ADD, 0},
  {"resolvectl status failing: no backend", "up", {.failing = {{"resolvectl status", ""}}},
   START + TUNNEL + Log{RESOLVED[0]} + ROLLBACK + error(NO_DNS), 1},
  {"no DNS backend", "up", {.tools = {"ip", "wg"}}, START + TUNNEL + ROLLBACK + error(NO_DNS), 1},
  {"resolvconf failing", "up", {.tools = ONLY_RESOLVCONF, .failing = {{"resolvconf -a", ""}}},
   START + RC_DEL + TUNNEL + RC_ADD + ROLLBACK + RC_DEL + error(NO_DNS), 1},
  {"dns in a foreign network namespace", "up", {.foreign = true, .tools = WITH_RESOLVCONF},
   START + TUNNEL + warning("network namespace: DNS left alone"), 0},
  {"no dns in a foreign network namespace", "up", {.foreign = true, .input = document(FULL, "null")}, START + TUNNEL, 0},
  {"no dns", "up", {.tools = WITH_RESOLVCONF, .input = document(FULL, "null")}, START + RC_DEL + TUNNEL, 0},
  {"default-route failing", "up", {.failing = {{"resolvectl default-route", "Unknown command"}}},
   START + TUNNEL + RESOLVED, 0},
  {"resolvectl dns failing: no second backend", "up", {.tools = WITH_RESOLVCONF, .failing = {{"resolvectl dns", "No"}}},
   START + RC_DEL + TUNNEL + Log{RESOLVED[0], RESOLVED[1]} + ROLLBACK + RC_DEL + error(RESOLVED[1] + ": No"), 1},
  {"resolvectl domain failing", "up", {.failing = {{"resolvectl domain", ""}}},
   START + TUNNEL + Log{RESOLVED[0], RESOLVED[1], RESOLVED[2]} + ROLLBACK + error(RESOLVED[2] + ": "), 1},
  {"src_valid_mark unwritable", "up", {.failing = {{"/proc/sys/net/ipv4/conf/all/src_valid_mark", ""}}},
   START + TUNNEL + RESOLVED, 0},

  {"split tunnel", "up", {.input = document(R"(["10.1.2.3/8", "192.168.1.0/24"])")},
   START + Log{LINK_ADD, wg_set("10.0.0.0/8,192.168.1.0/24", false), ADDRESS, LINK_UP,
               route("-4", "10.0.0.0/8"), route("-4", "192.168.1.0/24")} + RESOLVED, 0},
  {"full tunnel of both families", "up", {.input = document(R"(["::/0", "0.0.0.0/0"])")},
   START + Log{LINK_ADD, wg_set("::/0,0.0.0.0/0", true), ADDRESS, LINK_UP, route("-6", "::/0", " table 51821"),
               rule("-6", true), rule("-6", false), ROUTE4, rule("-4", true), rule("-4", false)} + MARK + RESOLVED, 0},
  {"full tunnel of both families without IPv6", "up", {.ipv6 = false, .input = document(R"(["0.0.0.0/0", "::/0"])")},
   START + Log{LINK_ADD, wg_set("0.0.0.0/0,::/0", true), ADDRESS, LINK_UP, ROUTE4, rule("-4", true), rule("-4", false)}
   + MARK + Log{route("-6", "::/0", " table 51821")} + no_ipv6(route("-6", "::/0", " table 51821")) + RESOLVED, 0},
  {"IPv6 networks without IPv6", "up", {.ipv6 = false, .input = document(R"(["fd00::/64", "10.0.0.0/8", "fd01::/64"])")},
   START + Log{LINK_ADD, wg_set("fd00::/64,10.0.0.0/8,fd01::/64", false), ADDRESS, LINK_UP, route("-6", "fd00::/64")}
   + no_ipv6(route("-6", "fd00::/64")) + Log{route("-4", "10.0.0.0/8"), route("-6", "fd01::/64")}
   + no_ipv6(route("-6", "fd01::/64")) + RESOLVED, 0},
  {"IPv6 route failing with IPv6", "up",
   {.failing = {{"ip -6 route", DENIED}}, .input = document(R"(["fd00::/64", "10.0.0.0/8"])")},
   START + Log{LINK_ADD, wg_set("fd00::/64,10.0.0.0/8", false), ADDRESS, LINK_UP, route("-6", "fd00::/64")}
   + CLEAN + LINK_DEL + error(route("-6", "fd00::/64") + ": " + DENIED), 1},
  {"IPv4 route failing", "up",
   {.failing = {{"ip -4 route add 10.1.", DENIED}}, .input = document(R"(["10.0.0.0/16", "10.1.0.0/16", "::/0"])")},
   START + Log{LINK_ADD, wg_set("10.0.0.0/16,10.1.0.0/16,::/0", true), ADDRESS, LINK_UP, route("-4", "10.0.0.0/16"),
               route("-4", "10.1.0.0/16")} + CLEAN + LINK_DEL + error(route("-4", "10.1.0.0/16") + ": " + DENIED), 1},
  {"link creation failing", "up", {.failing = {{"ip link add", DENIED}}},
   START + Log{LINK_ADD} + CLEAN + error("wireguard_module: " + LINK_ADD + ": " + DENIED), 1},
  // Should wg ever quote its input, the key must not travel on in the error text.
  {"wg failing", "up", {.failing = {{"wg set", "`" + KEY + "' is not a key"}}},
   START + Log{LINK_ADD, WG} + CLEAN + LINK_DEL + error("wg set: `(private key)' is not a key"), 1},
  {"address failing", "up", {.failing = {{"ip -4 address", DENIED}}},
   START + Log{LINK_ADD, WG, ADDRESS} + CLEAN + LINK_DEL + error(ADDRESS + ": " + DENIED), 1},
  {"link-up failing", "up", {.failing = {{"ip link set", DENIED}}},
   START + Log{LINK_ADD, WG, ADDRESS, LINK_UP} + CLEAN + LINK_DEL + error(LINK_UP + ": " + DENIED), 1},
  {"tunnel route failing", "up", {.failing = {{"ip -4 route", DENIED}}},
   START + Log{LINK_ADD, WG, ADDRESS, LINK_UP, ROUTE4} + CLEAN + LINK_DEL + error(ROUTE4 + ": " + DENIED), 1},
  {"tunnel rule failing", "up", {.failing = {{"ip -4 rule add not", DENIED}}},
   START + Log{LINK_ADD, WG, ADDRESS, LINK_UP, ROUTE4, rule("-4", true)} + CLEAN + LINK_DEL
   + error(rule("-4", true) + ": " + DENIED), 1},
  {"main-table rule failing", "up", {.failing = {{"ip -4 rule add table", DENIED}}},
   START + Log{LINK_ADD, WG, ADDRESS, LINK_UP, ROUTE4, rule("-4", true), rule("-4", false)} + deletions(2, 1, 1, 1)
   + LINK_DEL + error(rule("-4", false) + ": " + DENIED), 1},
  {"up over a tunnel", "up", {.link = true, .tools = WITH_RESOLVCONF, .rules4 = 1}, LOCK + ROLLBACK + RC_DEL + TUNNEL + RESOLVED, 0},
  {"a link that survives the clean start", "up",
   {.link = true, .failing = {{"ip link del", DENIED}, {"ip link add", "RTNETLINK answers: File exists"}}},
   START + LINK_DEL + Log{LINK_ADD} + CLEAN + LINK_DEL
   + error("wireguard_module: " + LINK_ADD + ": RTNETLINK answers: File exists"), 1},

  {"down with nothing up", "down", {}, START, 0},
  {"down with resolvconf", "down", {.tools = WITH_RESOLVCONF}, START + RC_DEL, 0},
  {"down in a foreign network namespace", "down", {.foreign = true, .link = true, .tools = WITH_RESOLVCONF},
   START + LINK_DEL, 0},
  {"down with each rule nine times", "down", {.rules4 = 9, .rules6 = 9}, LOCK + deletions(8, 8, 8, 8), 0},
  {"link deletion failing keeps the record", "down",
   {.link = true, .tools = WITH_RESOLVCONF, .failing = {{"ip link del", DENIED}}},
   START + LINK_DEL + error(LINK_DEL[0] + ": " + DENIED), 1},
};
// clang-format on

TEST(Commands, DoExactlyWhatTheyMust) {
  for (const Row& row : ROWS) {
    RecordingHost host(row.host);
    EXPECT_EQ(row.status, dispatch_command(host, row.word)) << row.name;
    EXPECT_EQ(row.expected, host.log) << row.name;
  }
}

// A caller may hand on SIGCHLD ignored, which would make every wait for a tool fail.
TEST(Commands, StartUpReadiesTheProcess) {
  (void)signal(SIGCHLD, SIG_IGN);
  ASSERT_EQ(0, prepare_process());
  EXPECT_EQ(0, prctl(PR_GET_DUMPABLE));
  EXPECT_EQ(SIG_IGN, signal(SIGPIPE, SIG_DFL));
  EXPECT_EQ(SIG_DFL, signal(SIGCHLD, SIG_DFL));
  (void)prctl(PR_SET_DUMPABLE, 1);
}

}  // namespace
}  // namespace ferroglade
