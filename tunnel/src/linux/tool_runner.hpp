#pragma once
// The only way the program starts a host tool.

#include <string>
#include <string_view>
#include <vector>

#include "linux/result.hpp"

namespace ferroglade {

/// A bare program name followed by at least one argument; each element reaches
/// the tool as exactly one argument, no shell involved.
using CommandLine = std::vector<std::string>;

/// The fixed search path every tool is looked up in.
inline constexpr std::string_view SEARCH_PATH = "/usr/sbin:/usr/bin:/sbin:/bin";

/// Which fed-tool variant run_tool_with_input runs; it fixes streams and texts.
enum class InputInstance {
  /// `wg set`: stdout on /dev/null, stderr captured; data is the private key.
  key,
  /// `resolvconf -a`: stdout and stderr are the program's own; data is the server text.
  resolver,
};

/// Sets PATH to SEARCH_PATH for this process and every tool it starts.
void reset_search_path();

/// Runs a tool that must succeed: stdin /dev/null, stdout drained and dropped,
/// stderr captured. Errors: "<program>: <system error>" when it cannot be
/// started or waited for; "<command line joined by spaces>: <trimmed stderr>"
/// when it exits non-zero or is killed by a signal.
Status run_tool(const CommandLine& command);

/// Runs a tool with all three streams on /dev/null; true only when it started
/// and exited with status 0. Never reports why.
[[nodiscard]] bool tool_succeeds(const CommandLine& command);

/// Runs a tool and feeds `data` to its standard input (key: the trimmed key and a
/// line feed; resolver: "nameserver " + data + "\n"). Start, write and wait
/// failures give the bare system error text. Key instance: a tool that does not
/// succeed gives "wg set: <trimmed stderr>". Resolver instance: it gives an
/// Error with `tool_unsuccessful` set and an empty text.
Status run_tool_with_input(InputInstance instance, const CommandLine& command, std::string_view data);

}  // namespace ferroglade
