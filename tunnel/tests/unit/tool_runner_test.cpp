#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "linux/result.hpp"
#include "linux/tool_runner.hpp"
#include "unit/test_support.hpp"

namespace ferroglade {
namespace {

std::string error_text(const Status& status) { return status.ok() ? "<ok>" : status.error().text; }

/// Fake tools as small shell scripts in a directory of their own, found first on PATH.
class ToolRunner : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { saved_sigpipe_ = ::signal(SIGPIPE, SIG_IGN); }
  static void TearDownTestSuite() { (void)::signal(SIGPIPE, saved_sigpipe_); }

  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "tools-XXXXXX").string();
    ASSERT_NE(nullptr, ::mkdtemp(pattern.data()));
    dir_ = pattern;
    path_.emplace((dir_.string() + ":/usr/bin:/bin").c_str());
  }

  void TearDown() override {
    path_.reset();
    std::filesystem::remove_all(dir_);
  }

  void add_tool(const std::string& name, const std::string& body, mode_t mode = 0755) {
    const std::filesystem::path path = dir_ / name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ASSERT_EQ(0, ::chmod(path.c_str(), mode));
  }

  std::filesystem::path dir_;
  std::optional<testing::ScopedPath> path_;
  static inline sighandler_t saved_sigpipe_ = SIG_DFL;
};

const std::string LARGER_THAN_A_PIPE(1 << 20, 'A');

// Arguments go to the kernel as C strings: a NUL would cut one short.
TEST_F(ToolRunner, NulInAnArgumentStartsNothing) {
  add_tool("early", "exit 0");
  const CommandLine command{"early", std::string("a\0b", 3)};
  EXPECT_EQ("early: nul byte found in provided data", error_text(run_tool(command)));
  EXPECT_FALSE(tool_succeeds(command));
  EXPECT_EQ("nul byte found in provided data", error_text(run_tool_with_input(InputInstance::key, command, "K")));
  const Status fed = run_tool_with_input(InputInstance::resolver, command, "10.8.0.1");
  EXPECT_EQ("nul byte found in provided data", error_text(fed));
  EXPECT_FALSE(!fed.ok() && fed.error().tool_unsuccessful);
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
}

// A mask the caller left blocked must not reach tools, which may rely on signals.
TEST_F(ToolRunner, ToolsStartWithNoSignalBlocked) {
  sigset_t blocked;
  sigset_t saved;
  (void)sigemptyset(&blocked);
  (void)sigaddset(&blocked, SIGTERM);
  ASSERT_EQ(0, ::sigprocmask(SIG_BLOCK, &blocked, &saved));
  // Read by the shell itself: a forked grep would race the shell blocking signals around its fork.
  add_tool("mask",
           "while read -r key value; do [ \"$key\" = SigBlk: ] && printf '%s\\t%s\\n' \"$key\" \"$value\" >&2; "
           "done </proc/self/status; exit 1");
  const std::string mask = error_text(run_tool({"mask", "x"}));
  (void)::sigprocmask(SIG_SETMASK, &saved, nullptr);
  EXPECT_EQ("mask x: SigBlk:\t0000000000000000", mask);
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
