#include "main/front_end.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>

#include "linux/descriptor_io.hpp"
#include "linux/host_probes.hpp"
#include "linux/result.hpp"
#include "linux/system_error.hpp"
#include "main/bring_up.hpp"
#include "main/teardown.hpp"

namespace ferroglade {
namespace {

constexpr int EXIT_USAGE = 2;

struct Command {
  std::string_view word;
  Status (*handler)();
};

constexpr std::array<Command, 2> HANDLERS{{
    {"up", up_command},
    {"down", down_command},
}};

// A descriptor left closed would be taken by the next open() or pipe(), which
// could then be mistaken for a standard stream by us or by a tool.
bool open_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
      continue;
    }
    const int opened = open("/dev/null", O_RDWR);
    if (opened == -1) {
      return false;
    }
    // The lowest free number is taken, which is `fd` itself since lower ones are open.
    if (opened != fd) {
      close(opened);
      return false;
    }
  }
  return true;
}

}  // namespace

bool prepare_process() {
  if (!open_closed_standard_descriptors()) {
    return false;
  }
  (void)signal(SIGPIPE, SIG_IGN);
  // An ignored SIGCHLD survives exec: the kernel would then reap our tools
  // itself, and every wait for one would fail although the tool did its work.
  (void)signal(SIGCHLD, SIG_DFL);
  return true;
}

int print_usage() {
  // A usage text nobody can read changes nothing about the outcome.
  (void)write_all(STDERR_FILENO,
                  "usage: ferroglade-tunnel <command>\n"
                  "  up (config JSON on stdin) | down | status\n");
  return EXIT_USAGE;
}

int report_status() {
  const std::string_view line = link_exists() ? "up\n" : "down\n";
  if (const int failed = write_all(STDOUT_FILENO, line); failed != 0) {
    // The caller asked for the answer and did not get it.
    (void)write_all(STDERR_FILENO, "error: standard output: " + system_error_text(failed) + "\n");
    return 1;
  }
  return 0;
}

int dispatch_command(std::string_view word) {
  if (word == "status") {
    return report_status();
  }
  for (const Command& command : HANDLERS) {
    if (word != command.word) {
      continue;
    }
    const Status outcome = command.handler();
    if (outcome.ok()) {
      return 0;
    }
    // Exit status 1 tells the failure even when the line cannot be written.
    (void)write_all(STDERR_FILENO, "error: " + outcome.error().text + "\n");
    return 1;
  }
  return print_usage();
}

int run_program(int argc, char** argv) {
  if (!prepare_process()) {
    const int saved = errno;
    (void)write_all(STDERR_FILENO, "error: /dev/null: " + system_error_text(saved) + "\n");
    return 1;
  }
  // Arguments are compared byte for byte, so one that is not UTF-8 simply
  // matches no command word.
  const std::string_view word = argc > 1 && argv[1] != nullptr ? std::string_view(argv[1]) : std::string_view();
  return dispatch_command(word);
}

}  // namespace ferroglade
