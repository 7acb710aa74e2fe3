#pragma once
// Entry steps, command dispatch, usage and the `status` command.

#include <string_view>

#include "linux/host.hpp"
#include "linux/result.hpp"

namespace ferroglade {

/// Opens /dev/null on each closed standard descriptor, ignores SIGPIPE, gives
/// SIGCHLD its default disposition and makes the process non-dumpable.
/// False when /dev/null could not be opened; the program must then stop.
[[nodiscard]] bool prepare_process();

/// Runs the command named by `word` and returns the exit status: 0, 1 after the
/// error line, or 2 after the two usage lines.
[[nodiscard]] int dispatch_command(Host& host, std::string_view word);

/// The `status` command: "up" or "down" on standard output. Fails only when that
/// line cannot be written.
Status report_status(Host& host);

/// The whole program: prepare, take the command word, dispatch.
[[nodiscard]] int run_program(int argc, char** argv);

}  // namespace ferroglade
