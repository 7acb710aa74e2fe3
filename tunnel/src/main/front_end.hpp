#pragma once
// Entry steps, command dispatch, usage and the `status` command.

#include <string_view>

namespace ferroglade {

/// Opens /dev/null on each closed standard descriptor, ignores SIGPIPE and
/// gives SIGCHLD its default disposition.
/// False when /dev/null could not be opened; the program must then stop.
[[nodiscard]] bool prepare_process();

/// Runs the command named by `word` and returns the exit status (0, 1 or 2).
[[nodiscard]] int dispatch_command(std::string_view word);

/// Prints "up" or "down" for the interface; 0, or 1 when the line could not be written.
[[nodiscard]] int report_status();

/// The two usage lines on standard error; returns the usage exit status 2.
[[nodiscard]] int print_usage();

/// The whole program: prepare, take the command word, dispatch.
[[nodiscard]] int run_program(int argc, char** argv);

}  // namespace ferroglade
