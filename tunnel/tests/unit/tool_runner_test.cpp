#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "linux/result.hpp"
#include "linux/tool_runner.hpp"

namespace ferroglade {
namespace {

std::string read_whole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string error_text(const Status& status) { return status.ok() ? "<ok>" : status.error().text; }

/// Fake tools as small shell scripts in a directory of their own, found first on PATH.
class ToolRunner : public testing::Test {
 protected:
  static void SetUpTestSuite() { saved_sigpipe_ = ::signal(SIGPIPE, SIG_IGN); }
  static void TearDownTestSuite() { (void)::signal(SIGPIPE, saved_sigpipe_); }

  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "tools-XXXXXX").string();
    ASSERT_NE(nullptr, ::mkdtemp(pattern.data()));
    dir_ = pattern;
    if (const char* old = std::getenv("PATH")) {
      saved_path_ = old;
    }
    ::setenv("PATH", (dir_.string() + ":/usr/bin:/bin").c_str(), 1);
  }

  void TearDown() override {
    if (saved_path_) {
      ::setenv("PATH", saved_path_->c_str(), 1);
    } else {
      ::unsetenv("PATH");
    }
    std::filesystem::remove_all(dir_);
  }

  void add_tool(const std::string& name, const std::string& body, mode_t mode = 0755) {
    const std::filesystem::path path = dir_ / name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ASSERT_EQ(0, ::chmod(path.c_str(), mode));
  }

  std::string file(const std::string& name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;
  std::optional<std::string> saved_path_;
  static inline sighandler_t saved_sigpipe_ = SIG_DFL;
};

const std::string LARGER_THAN_A_PIPE(1 << 20, 'A');

TEST_F(ToolRunner, RunToolErrorTexts) {
  add_tool("fails", "echo 'it broke' >&2; exit 1");
  add_tool("twolines", "printf '  first\\nsecond  \\n\\n' >&2; exit 2");
  add_tool("silent", "exit 1");
  add_tool("chatty", "echo 'only on stdout'; exit 1");
  add_tool("mangle", "printf 'bad \\377 byte \\355\\240\\200\\n' >&2; exit 1");
  add_tool("killed", "echo dying >&2; kill -9 $$");
  add_tool("noexec", "exit 0", 0644);
  add_tool("fine", "echo 'warning only' >&2; echo out; exit 0");
  const std::string fffd = "\xEF\xBF\xBD";
  const std::vector<std::pair<CommandLine, std::string>> cases = {
      {{"nosuch", "arg"}, "nosuch: No such file or directory (os error 2)"},
      {{"noexec", "arg"}, "noexec: Permission denied (os error 13)"},
      {{"fails", "one", "two"}, "fails one two: it broke"},
      {{"twolines", "a b"}, "twolines a b: first\nsecond"},
      {{"silent", "x"}, "silent x: "},
      {{"chatty", "x"}, "chatty x: "},
      {{"mangle", "x"}, "mangle x: bad " + fffd + " byte " + fffd + fffd + fffd},
      {{"killed", "x"}, "killed x: dying"},
      {{"fails", std::string("a\0b", 3)}, "fails: nul byte found in provided data"},
      {{"fine", "x"}, "<ok>"},
  };
  for (const auto& [command, expected] : cases) {
    EXPECT_EQ(expected, error_text(run_tool(command))) << command.front();
  }
}

TEST_F(ToolRunner, ToolSucceedsOnlyOnExitStatusZero) {
  add_tool("yes0", "echo noise; echo noise >&2; exit 0");
  add_tool("no1", "exit 1");
  add_tool("killed", "kill -9 $$");
  add_tool("noexec", "exit 0", 0644);
  EXPECT_TRUE(tool_succeeds({"yes0", "x"}));
  EXPECT_FALSE(tool_succeeds({"no1", "x"}));
  EXPECT_FALSE(tool_succeeds({"killed", "x"}));
  EXPECT_FALSE(tool_succeeds({"noexec", "x"}));
  EXPECT_FALSE(tool_succeeds({"nosuch", "x"}));
  EXPECT_FALSE(tool_succeeds({"yes0", std::string("\0", 1)}));
}

TEST_F(ToolRunner, DrainsBothPipesTogetherWithoutLimit) {
  // A reader that empties one pipe before the other stalls on one of these phases.
  add_tool("flood",
           "head -c 4194304 /dev/zero | tr '\\0' e >&2\n"
           "head -c 4194304 /dev/zero\n"
           "head -c 4194304 /dev/zero | tr '\\0' e >&2\n"
           "echo ' tail ' >&2; exit 3");
  ::alarm(120);  // a stall ends the test binary rather than hanging it
  const Status status = run_tool({"flood", "x"});
  ::alarm(0);
  ASSERT_FALSE(status.ok());
  const std::string& text = status.error().text;
  EXPECT_EQ(std::string("flood x: ").size() + std::size_t{8} * 1024 * 1024 + 5, text.size());
  EXPECT_TRUE(text.starts_with("flood x: eee"));
  EXPECT_TRUE(text.ends_with("eee tail"));
}

TEST_F(ToolRunner, ChildGetsOnlyStandardStreamsDefaultSigpipeAndNullInput) {
  const int leaked = ::open("/dev/null", O_RDONLY);  // deliberately without close-on-exec
  ASSERT_LT(leaked, 10);                             // the shell keeps its own descriptors from 10 up
  add_tool("fds",
           "for i in 3 4 5 6 7 8 9; do [ -e /proc/$$/fd/$i ] && l=\"$l $i\"; done; echo \"open:$l\" >&2; exit 1");
  EXPECT_EQ("fds x: open:", error_text(run_tool({"fds", "x"})));
  ::close(leaked);

  add_tool("sigs", "grep SigIgn /proc/$$/status >&2; exit 1");
  const std::string sigs = error_text(run_tool({"sigs", "x"}));
  ASSERT_TRUE(sigs.starts_with("sigs x: SigIgn:\t")) << sigs;
  const unsigned long long ignored = std::stoull(sigs.substr(sigs.find('\t') + 1), nullptr, 16);
  EXPECT_EQ(0ULL, ignored & (1ULL << (SIGPIPE - 1)));

  // A mask the caller left blocked must not reach tools, which may rely on signals.
  sigset_t blocked;
  sigset_t saved;
  (void)sigemptyset(&blocked);
  (void)sigaddset(&blocked, SIGTERM);
  ASSERT_EQ(0, ::sigprocmask(SIG_BLOCK, &blocked, &saved));
  add_tool("mask", "grep SigBlk /proc/$$/status >&2; exit 1");
  const std::string mask = error_text(run_tool({"mask", "x"}));
  (void)::sigprocmask(SIG_SETMASK, &saved, nullptr);
  EXPECT_EQ("mask x: SigBlk:\t0000000000000000", mask);

  add_tool("stdin", "readlink /proc/$$/fd/0 >&2; exit 1");
  EXPECT_EQ("stdin x: /dev/null", error_text(run_tool({"stdin", "x"})));
}

TEST_F(ToolRunner, ResetSearchPathFixesPathForUsAndForTools) {
  add_tool("fakeonly", "exit 0");
  reset_search_path();
  EXPECT_STREQ("/usr/sbin:/usr/bin:/sbin:/bin", std::getenv("PATH"));
  EXPECT_EQ("fakeonly: No such file or directory (os error 2)", error_text(run_tool({"fakeonly", "x"})));
  EXPECT_EQ("sh -c printf %s \"$PATH\" >&2; exit 1: /usr/sbin:/usr/bin:/sbin:/bin",
            error_text(run_tool({"sh", "-c", "printf %s \"$PATH\" >&2; exit 1"})));
}

TEST_F(ToolRunner, WaitFailureIsReported) {
  add_tool("quick", "cat >/dev/null; exit 0");
  // With SIGCHLD ignored the kernel reaps children itself, so waiting fails.
  const sighandler_t saved = ::signal(SIGCHLD, SIG_IGN);
  const Status ran = run_tool({"quick", "x"});
  const bool succeeded = tool_succeeds({"quick", "x"});
  const Status fed = run_tool_with_input(InputInstance::key, {"quick", "x"}, "key");
  (void)::signal(SIGCHLD, saved);
  EXPECT_EQ("quick: No child processes (os error 10)", error_text(ran));
  EXPECT_FALSE(succeeded);
  EXPECT_EQ("No child processes (os error 10)", error_text(fed));
}

TEST_F(ToolRunner, KeyInstanceWritesTheTrimmedKeyAndOneLineFeed) {
  add_tool("wg", "cat > \"$2\"; t=$(readlink /proc/$$/fd/1); echo \"$t\" >&2; exit ${3:-0}");
  const std::string received = file("received");
  EXPECT_TRUE(run_tool_with_input(InputInstance::key, {"wg", "set", received}, " \t\xE3\x80\x80KEY= \n").ok());
  EXPECT_EQ("KEY=\n", read_whole(received));
  // Its standard output is the null device; a failure quotes its standard error.
  EXPECT_EQ("wg set: /dev/null",
            error_text(run_tool_with_input(InputInstance::key, {"wg", "set", received, "1"}, "K")));
}

TEST_F(ToolRunner, KeyInstanceErrorTexts) {
  add_tool("early", "exit 0");
  add_tool("refuses", "cat >/dev/null; printf 'Key is not the correct length or format\\n' >&2; kill -9 $$");
  const std::vector<std::pair<CommandLine, std::string>> cases = {
      {{"nosuch", "set"}, "No such file or directory (os error 2)"},
      {{"refuses", "set"}, "wg set: Key is not the correct length or format"},
      {{"refuses", std::string("s\0t", 3)}, "nul byte found in provided data"},
  };
  for (const auto& [command, expected] : cases) {
    EXPECT_EQ(expected, error_text(run_tool_with_input(InputInstance::key, command, "KEY"))) << command.front();
  }
  // More than a pipe holds, to a tool that never reads: the write must meet the closed pipe.
  EXPECT_EQ("Broken pipe (os error 32)",
            error_text(run_tool_with_input(InputInstance::key, {"early", "set"}, LARGER_THAN_A_PIPE)));
}

TEST_F(ToolRunner, ResolverInstance) {
  add_tool("resolvconf",
           "cat > \"$1\"; t=$(readlink /proc/$$/fd/1 /proc/$$/fd/2); echo \"$t\" >> \"$1\"; exit ${2:-0}");
  add_tool("early", "exit 0");
  const std::string received = file("received");
  EXPECT_TRUE(run_tool_with_input(InputInstance::resolver, {"resolvconf", received}, "10.8.0.1").ok());
  std::array<char, 4096> own{};
  const std::string own_out(own.data(),
                            static_cast<std::size_t>(::readlink("/proc/self/fd/1", own.data(), own.size())));
  const std::string own_err(own.data(),
                            static_cast<std::size_t>(::readlink("/proc/self/fd/2", own.data(), own.size())));
  EXPECT_EQ("nameserver 10.8.0.1\n" + own_out + "\n" + own_err + "\n", read_whole(received));

  const Status refused = run_tool_with_input(InputInstance::resolver, {"resolvconf", received, "1"}, "10.8.0.1");
  ASSERT_FALSE(refused.ok());
  EXPECT_TRUE(refused.error().tool_unsuccessful);
  EXPECT_EQ("", refused.error().text);

  const std::vector<std::pair<CommandLine, std::string>> cases = {
      {{"nosuch", "-a"}, "No such file or directory (os error 2)"},
      {{"early", std::string("\0", 1)}, "nul byte found in provided data"},
  };
  for (const auto& [command, expected] : cases) {
    const Status status = run_tool_with_input(InputInstance::resolver, command, "10.8.0.1");
    EXPECT_EQ(expected, error_text(status)) << command.front();
    EXPECT_FALSE(!status.ok() && status.error().tool_unsuccessful);
  }
  EXPECT_EQ("Broken pipe (os error 32)",
            error_text(run_tool_with_input(InputInstance::resolver, {"early", "-a"}, LARGER_THAN_A_PIPE)));
}

std::size_t open_descriptors() {
  const std::filesystem::directory_iterator entries("/proc/self/fd");
  return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

TEST_F(ToolRunner, LeavesNoDescriptorBehindOnAnyPath) {
  add_tool("early", "exit 0");
  add_tool("fails", "exit 1");
  add_tool("noexec", "exit 0", 0644);
  const std::size_t before = open_descriptors();
  for (const char* program : {"early", "fails", "noexec", "nosuch"}) {
    for (const CommandLine& command : {CommandLine{program, "x"}, CommandLine{program, std::string("\0", 1)}}) {
      (void)run_tool(command);
      (void)tool_succeeds(command);
      (void)run_tool_with_input(InputInstance::key, command, "KEY");
      (void)run_tool_with_input(InputInstance::resolver, command, "10.8.0.1");
    }
  }
  (void)run_tool_with_input(InputInstance::key, {"early", "x"}, LARGER_THAN_A_PIPE);
  (void)run_tool_with_input(InputInstance::resolver, {"early", "x"}, LARGER_THAN_A_PIPE);
  EXPECT_EQ(before, open_descriptors());
}

TEST(FailedCommandText, JoinsTheCommandAndTrimsTheComplaint) {
  EXPECT_EQ("ip -4 route add 0.0.0.0/0: RTNETLINK answers: File exists",
            failed_command_text({"ip", "-4", "route", "add", "0.0.0.0/0"}, "RTNETLINK answers: File exists\n"));
  EXPECT_EQ("ip link: ", failed_command_text({"ip", "link"}, " \r\n"));
  EXPECT_EQ("ip a  b: \xEF\xBF\xBD", failed_command_text({"ip", "a ", "b"}, "\xC0\n"));
}

}  // namespace
}  // namespace ferroglade
