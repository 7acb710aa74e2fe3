#pragma once
// The process-wide start-up steps, the command table with its dispatch, and `status`.

#include <string_view>

#include "linux/host.hpp"

namespace ferroglade {

/// The start-up steps, in order: opens /dev/null on each closed standard descriptor,
/// ignores SIGPIPE, gives SIGCHLD its default disposition and makes the process
/// non-dumpable. 0, or the error number when /dev/null could not stand in for a closed
/// descriptor; the program must then stop.
[[nodiscard]] int prepare_process();

/// Runs the command named by `word`, `up` and `down` only after the search path is
/// fixed, the caller is found to be root and the run lock is held. Returns the exit
/// status: 0, 1 after the error line, or 2 after the two usage lines.
[[nodiscard]] int dispatch_command(Host& host, std::string_view word);

}  // namespace ferroglade
