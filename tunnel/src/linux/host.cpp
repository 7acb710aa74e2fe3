#include "linux/host.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "linux/descriptor_io.hpp"
#include "linux/host_probes.hpp"
#include "linux/tool_runner.hpp"

namespace ferroglade {

void SystemHost::reset_search_path() { ferroglade::reset_search_path(); }

Status SystemHost::run_tool(const CommandLine& command) { return ferroglade::run_tool(command); }

bool SystemHost::tool_succeeds(const CommandLine& command) { return ferroglade::tool_succeeds(command); }

Status SystemHost::run_tool_with_input(InputInstance instance, const CommandLine& command, std::string_view data) {
  return ferroglade::run_tool_with_input(instance, command, data);
}

bool SystemHost::is_root() { return ferroglade::is_root(); }

bool SystemHost::in_foreign_netns() { return ferroglade::in_foreign_netns(); }

bool SystemHost::tool_on_path(std::string_view name) { return ferroglade::tool_on_path(name); }

bool SystemHost::link_exists() { return ferroglade::link_exists(); }

bool SystemHost::ipv6_available() { return ferroglade::ipv6_available(); }

bool SystemHost::write_file(std::string_view path, std::string_view content) {
  const std::string path_text(path);
  const int fd = ::open(path_text.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd == -1) {
    return false;
  }
  const bool written = write_all(fd, content) == 0;
  return ::close(fd) == 0 && written;
}

void SystemHost::warn(std::string_view line) { (void)write_all(STDERR_FILENO, line); }

}  // namespace ferroglade
