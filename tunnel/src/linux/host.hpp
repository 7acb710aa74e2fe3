#pragma once
// The narrow interface through which bring-up, teardown and DNS touch the host,
// so that tests can record exactly what they would do.

#include <cstddef>
#include <span>
#include <string_view>

#include "linux/result.hpp"
#include "linux/tool_runner.hpp"

namespace ferroglade {

/// Each operation keeps the contract of the free function of the same name
/// (tool_runner.hpp, host_probes.hpp).
class Host {
 public:
  Host() = default;
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;
  virtual ~Host() = default;

  virtual void reset_search_path() = 0;
  virtual Status run_tool(const CommandLine& command) = 0;
  virtual bool tool_succeeds(const CommandLine& command) = 0;
  virtual Status run_tool_with_input(InputInstance instance, const CommandLine& command, std::string_view data) = 0;

  virtual bool is_root() = 0;
  virtual bool in_foreign_netns() = 0;
  virtual bool tool_on_path(std::string_view name) = 0;
  virtual bool link_exists() = 0;
  virtual bool ipv6_available() = 0;

  /// Waits until no other `up` or `down` holds the run lock, then holds it until this
  /// process ends, however it ends. Where the lock cannot be taken, goes on without it.
  virtual void serialise_runs() = 0;

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

/// The real host: the tool runner, the probes, real files and the standard streams.
class SystemHost final : public Host {
 public:
  void reset_search_path() override;
  Status run_tool(const CommandLine& command) override;
  bool tool_succeeds(const CommandLine& command) override;
  Status run_tool_with_input(InputInstance instance, const CommandLine& command, std::string_view data) override;
  bool is_root() override;
  bool in_foreign_netns() override;
  bool tool_on_path(std::string_view name) override;
  bool link_exists() override;
  bool ipv6_available() override;
  void serialise_runs() override;
  bool write_file(std::string_view path, std::string_view content) override;
  Result<std::size_t> read_input(std::span<char> buffer) override;
  Status write_output(std::string_view text) override;
  void write_error(std::string_view text) override;

 private:
  int run_lock_ = -1;
};

}  // namespace ferroglade
