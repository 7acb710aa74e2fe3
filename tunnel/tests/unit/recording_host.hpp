#pragma once
// A Host that runs nothing: it logs every call in order and answers from a script.

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "linux/host.hpp"

namespace ferroglade::testing {

/// Arguments joined by single spaces; an argument that is empty or holds a
/// space is shown in single quotes, so a merged or split argument is visible.
inline std::string show(const CommandLine& command) {
  std::string shown;
  for (const std::string& argument : command) {
    if (!shown.empty()) {
      shown += ' ';
    }
    const bool quote = argument.empty() || argument.find(' ') != std::string::npos;
    shown += quote ? "'" + argument + "'" : argument;
  }
  return shown;
}

class RecordingHost final : public Host {
 public:
  // Probe answers. Tools are on the path only when listed.
  bool root = true;
  bool foreign_netns = false;
  bool link = false;
  bool ipv6 = true;
  std::set<std::string, std::less<>> tools_on_path{"ip", "wg"};
  bool write_succeeds = true;

  /// Every call in order: "reset_search_path", "is_root?", "tool_on_path? wg",
  /// "run_tool: ip link ...", "tool_succeeds: ...", "key: wg set ... <<< data",
  /// "resolver: resolvconf ... <<< data", "write_file: path <<< content", "warn: line".
  std::vector<std::string> log;

  /// Commands whose shown text starts with `prefix` fail with `error` in
  /// run_tool and run_tool_with_input; the first matching script wins.
  void fail(std::string prefix, std::string text) { failures_.emplace_back(std::move(prefix), Error{std::move(text)}); }

  /// tool_succeeds answers true for commands starting with `prefix`; unscripted
  /// commands answer false.
  void succeed(std::string prefix) { successes_.push_back(std::move(prefix)); }

  /// The log without probes and the search path reset: only what changes the host or prints.
  [[nodiscard]] std::vector<std::string> actions() const {
    std::vector<std::string> kept;
    for (const std::string& entry : log) {
      if (entry != "reset_search_path" && entry.find('?') == std::string::npos) {
        kept.push_back(entry);
      }
    }
    return kept;
  }

  void reset_search_path() override { log.emplace_back("reset_search_path"); }

  Status run_tool(const CommandLine& command) override {
    log.push_back("run_tool: " + show(command));
    return scripted_outcome(command);
  }

  bool tool_succeeds(const CommandLine& command) override {
    const std::string shown = show(command);
    log.push_back("tool_succeeds: " + shown);
    return std::any_of(successes_.begin(), successes_.end(),
                       [&shown](const std::string& prefix) { return shown.starts_with(prefix); });
  }

  Status run_tool_with_input(InputInstance instance, const CommandLine& command, std::string_view data) override {
    const std::string_view name = instance == InputInstance::key ? "key: " : "resolver: ";
    log.push_back(std::string(name) + show(command) + " <<< " + std::string(data));
    return scripted_outcome(command);
  }

  bool is_root() override { return probe("is_root?", root); }
  bool in_foreign_netns() override { return probe("in_foreign_netns?", foreign_netns); }
  bool link_exists() override { return probe("link_exists?", link); }
  bool ipv6_available() override { return probe("ipv6_available?", ipv6); }
  bool tool_on_path(std::string_view name) override {
    return probe("tool_on_path? " + std::string(name), tools_on_path.contains(name));
  }

  bool write_file(std::string_view path, std::string_view content) override {
    log.push_back("write_file: " + std::string(path) + " <<< " + std::string(content));
    return write_succeeds;
  }

  void warn(std::string_view line) override { log.push_back("warn: " + std::string(line)); }

 private:
  bool probe(std::string entry, bool answer) {
    log.push_back(std::move(entry));
    return answer;
  }

  Status scripted_outcome(const CommandLine& command) const {
    const std::string shown = show(command);
    for (const auto& [prefix, error] : failures_) {
      if (shown.starts_with(prefix)) {
        return error;
      }
    }
    return {};
  }

  std::vector<std::pair<std::string, Error>> failures_;
  std::vector<std::string> successes_;
};

}  // namespace ferroglade::testing
