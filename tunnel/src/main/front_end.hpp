#pragma once
// The process-wide start-up steps, the command table with its dispatch, and `status`.

#include <string_view>

#include "linux/host.hpp"
#include "linux/result.hpp"

namespace ferroglade {

/// The start-up steps, in order: opens /dev/null on each closed standard descriptor,
/// ignores SIGPIPE, gives SIGCHLD its default disposition and makes the process
/// non-dumpable. 0, or the error number when /dev/null could not stand in for a closed
/// descriptor; the program must then stop.
[[nodiscard]] int prepare_process();

/// Runs the command named by `word` and returns the exit status: 0, 1 after the
/// error line, or 2 after the two usage lines.
[[nodiscard]] int dispatch_command(Host& host, std::string_view word);

/// The `status` command: "up" or "down" on standard output. Fails only when that
/// line cannot be written.
Status report_status(Host& host);

}  // namespace ferroglade
