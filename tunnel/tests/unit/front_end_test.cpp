#include "main/front_end.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include "linux/tool_runner.hpp"

namespace ferroglade {
namespace {

TEST(PrepareProcess, IgnoresSigpipeAndWaitsForToolsEvenIfSigchldWasIgnored) {
  struct sigaction saved_pipe {};
  struct sigaction saved_child {};
  ASSERT_EQ(0, ::sigaction(SIGPIPE, nullptr, &saved_pipe));
  ASSERT_EQ(0, ::sigaction(SIGCHLD, nullptr, &saved_child));
  // What a caller that ignores SIGCHLD hands on across exec.
  (void)::signal(SIGCHLD, SIG_IGN);
  (void)::signal(SIGPIPE, SIG_DFL);

  const bool prepared = prepare_process();
  struct sigaction pipe_now {};
  (void)::sigaction(SIGPIPE, nullptr, &pipe_now);
  const Status ran = run_tool({"sh", "-c", "exit 0"});

  (void)::sigaction(SIGPIPE, &saved_pipe, nullptr);
  (void)::sigaction(SIGCHLD, &saved_child, nullptr);
  EXPECT_TRUE(prepared);
  EXPECT_EQ(SIG_IGN, pipe_now.sa_handler);
  EXPECT_TRUE(ran.ok()) << ran.error().text;
}

}  // namespace
}  // namespace ferroglade
