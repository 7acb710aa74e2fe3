#pragma once
// The narrow interface through which the commands touch the host: tools, probes,
// files and the standard streams. SystemHost is the real one; tests record instead.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "linux/result.hpp"
#include "linux/secret.hpp"

namespace ferroglade {

/// A bare program name followed by at least one argument; each element reaches
/// the tool as exactly one argument, no shell involved.
using CommandLine = std::vector<std::string>;

/// Where the standard output and standard error of a fed tool go.
enum class ToolOutput {
  /// Standard output on /dev/null, standard error captured for the caller.
  captured,
  /// Both are the program's own, so the tool speaks to the user directly.
  inherited,
};

/// How a fed tool ended. Its captured standard error may quote what it was fed, so it
/// is kept as a secret: decoded lossily, trimmed, and empty unless captured.
struct ToolOutcome {
  bool succeeded = false;
  SecretText errors;
};

/// Standard input, when it is a regular file: its permission bits, and the path it was
/// opened from where that can be read.
struct InputFile {
  std::optional<std::string> path;
  unsigned permissions = 0;
};

class Host {
 public:
  Host() = default;
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;
  virtual ~Host() = default;

  // Tools. Each starts by bare name through PATH and is waited for before returning,
  // except a fed tool whose input could not be written: it is left to end on its own.

  /// Sets PATH to /usr/sbin:/usr/bin:/sbin:/bin for this process and every tool it starts.
  virtual void reset_search_path() = 0;
  /// Runs a tool that must succeed: stdin /dev/null, stdout drained and dropped, stderr
  /// captured. Errors: "<program>: <system error>" when it cannot be started or waited
  /// for; "<command line joined by spaces>: <trimmed stderr>" when it exits non-zero or
  /// is killed by a signal.
  virtual Status run_tool(const CommandLine& command) = 0;
  /// Runs a tool with all three streams on /dev/null; true only when it started and
  /// exited with status 0. Never reports why.
  virtual bool tool_succeeds(const CommandLine& command) = 0;
  /// Runs a tool and writes `input` to its standard input, then closes it. A failure to
  /// start it, to write all of `input` or to wait for it gives the bare system error text.
  virtual Result<ToolOutcome> run_tool_with_input(const CommandLine& command, std::string_view input,
                                                  ToolOutput output) = 0;

  // Probes. None starts a tool, prints or fails: what prevents an answer is folded
  // into a fixed value.

  /// Effective user ID is 0 (third field of the first "Uid:" line of
  /// /proc/self/status). False when that cannot be read.
  virtual bool is_root() = 0;
  /// Not in process 1's network namespace, or that cannot be determined.
  virtual bool in_foreign_netns() = 0;
  /// Some PATH entry holds a regular file named `name` (permissions not checked).
  virtual bool tool_on_path(std::string_view name) = 0;
  /// /sys/class/net/<name> can be examined.
  virtual bool link_exists(std::string_view name) = 0;
  /// /proc/net/if_inet6 exists and lists at least one address (or cannot be read).
  virtual bool ipv6_available() = 0;
  /// Standard input's file, when it is a regular file; nothing for a pipe, a terminal,
  /// a closed descriptor or one that cannot be examined.
  virtual std::optional<InputFile> input_file() = 0;

  // Files and streams.

  /// Waits until no other process holds the lock on the file at `path`, then holds it
  /// until this process ends, however it ends. Where it cannot be taken, goes on without.
  virtual void serialise_runs(std::string_view path) = 0;
  /// Creates or truncates `path` and writes `content`; false on any failure.
  virtual bool write_file(std::string_view path, std::string_view content) = 0;
  /// Fills `buffer` from standard input until it is full or the input ends (a closed
  /// descriptor counts as the end). The number of bytes read, or the system error text.
  virtual Result<std::size_t> read_input(std::span<char> buffer) = 0;
  /// Writes all of `text` to standard output; the system error text when it cannot.
  virtual Status write_output(std::string_view text) = 0;
  /// Writes all of `text` (whole lines) to standard error; a failed write is dropped.
  virtual void write_error(std::string_view text) = 0;

 protected:
  Host(Host&&) = default;
  Host& operator=(Host&&) = default;
};

/// The real host. Tools: tool_runner.cpp; probes: host_probes.cpp; the rest: host.cpp.
class SystemHost final : public Host {
 public:
  void reset_search_path() override;
  Status run_tool(const CommandLine& command) override;
  bool tool_succeeds(const CommandLine& command) override;
  Result<ToolOutcome> run_tool_with_input(const CommandLine& command, std::string_view input,
                                          ToolOutput output) override;
  bool is_root() override;
  bool in_foreign_netns() override;
  bool tool_on_path(std::string_view name) override;
  bool link_exists(std::string_view name) override;
  bool ipv6_available() override;
  std::optional<InputFile> input_file() override;
  void serialise_runs(std::string_view path) override;
  bool write_file(std::string_view path, std::string_view content) override;
  Result<std::size_t> read_input(std::span<char> buffer) override;
  Status write_output(std::string_view text) override;
  void write_error(std::string_view text) override;

 private:
  int run_lock_ = -1;
};

}  // namespace ferroglade
