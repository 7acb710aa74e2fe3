#include "main/front_end.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>

#include "linux/host.hpp"
#include "linux/result.hpp"
#include "main/bring_up.hpp"
#include "main/teardown.hpp"
#include "main/tunnel_names.hpp"

namespace ferroglade {
namespace {

constexpr int EXIT_USAGE = 2;
constexpr std::string_view USAGE =
    "usage: ferroglade-tunnel <command>\n"
    "  up (config JSON on stdin) | down | status\n";

/// The `status` command: "up" or "down" on standard output. Fails only when that
/// line cannot be written.
Status report_status(Host& host) {
  const std::string_view line = host.link_exists(INTERFACE_NAME) ? "up\n" : "down\n";
  if (Status written = host.write_output(line); !written) {
    // The caller asked for the answer and did not get it.
    return fail("standard output: " + std::move(written).error().text);
  }
  return {};
}

struct Command {
  std::string_view word;
  Status (*handler)(Host&);
  /// Runs only after the privileged start-up steps.
  bool privileged;
};

constexpr std::array<Command, 3> COMMANDS{{
    {"up", bring_up, true},
    {"down", remove_tunnel, true},
    {"status", report_status, false},
}};

// Before a command that changes the host reads or runs anything: the fixed search
// path, the root check, then the lock that keeps such commands from overlapping.
Status begin_privileged(Host& host) {
  host.reset_search_path();
  if (!host.is_root()) {
    return fail("must run as root (pkexec)");
  }
  host.serialise_runs(RUN_LOCK_PATH);
  return {};
}

Status run_command(Host& host, const Command& command) {
  if (command.privileged) {
    if (Status begun = begin_privileged(host); !begun.ok()) {
      return begun;
    }
  }
  return command.handler(host);
}

// A descriptor left closed would be taken by the next open() or pipe(), which
// could then be mistaken for a standard stream by us or by a tool. 0, or the error number.
int open_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
      continue;
    }
    const int opened = open("/dev/null", O_RDWR);
    if (opened == -1) {
      return errno;
    }
    // The lowest free number is taken, which is `fd` itself since lower ones are open.
    if (opened != fd) {
      close(opened);
      return EBADF;
    }
  }
  return 0;
}

}  // namespace

int prepare_process() {
  if (const int failed = open_closed_standard_descriptors(); failed != 0) {
    return failed;
  }
  (void)signal(SIGPIPE, SIG_IGN);
  // An ignored SIGCHLD survives exec: the kernel would then reap our tools
  // itself, and every wait for one would fail although the tool did its work.
  (void)signal(SIGCHLD, SIG_DFL);
  // The private key will be in memory: a crash must not write it into a core file.
  (void)prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  return 0;
}

int dispatch_command(Host& host, std::string_view word) {
  for (const Command& command : COMMANDS) {
    if (word != command.word) {
      continue;
    }
    const Status outcome = run_command(host, command);
    if (outcome.ok()) {
      return 0;
    }
    // Exit status 1 tells the failure even when the line cannot be written.
    host.write_error("error: " + outcome.error().text + "\n");
    return 1;
  }
  host.write_error(USAGE);
  return EXIT_USAGE;
}

}  // namespace ferroglade
