// Questions about the host, answered from /proc, /sys and the file system; none runs a tool.
#include "linux/host.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include "linux/text.hpp"

namespace ferroglade {
namespace {

/// The whole content of `path`, or nothing when it cannot be opened or read.
std::optional<std::string> read_file(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd == -1) {
    return std::nullopt;
  }
  std::string content;
  std::array<char, 4096> buffer{};
  bool complete = false;
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      complete = got == 0;
      break;
    }
    content.append(buffer.data(), static_cast<std::size_t>(got));
  }
  (void)::close(fd);
  if (!complete) {
    return std::nullopt;
  }
  return content;
}

/// The target of the symbolic link at `path`, or nothing when it cannot be read.
std::optional<std::string> read_link(const char* path) {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t got = ::readlink(path, target.data(), target.size());
    if (got < 0) {
      return std::nullopt;
    }
    // A result that fills the buffer may have been cut short.
    if (static_cast<std::size_t>(got) < target.size()) {
      target.resize(static_cast<std::size_t>(got));
      return target;
    }
    target.resize(target.size() * 2);
  }
}

bool can_examine(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

/// The non-empty components of `path` after its leading '/', if any.
std::vector<std::string_view> components(std::string_view path) {
  std::vector<std::string_view> parts;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view part = path.substr(0, slash);
    if (!part.empty()) {
      parts.push_back(part);
    }
    if (slash == std::string_view::npos) {
      break;
    }
    path.remove_prefix(slash + 1);
  }
  return parts;
}

/// The is_root decision on the text of a status file.
bool status_text_says_root(std::string_view status_text) {
  if (!is_valid_utf8(status_text)) {
    return false;
  }
  std::string_view rest = status_text;
  while (!rest.empty()) {
    const std::size_t newline = rest.find('\n');
    std::string_view line = rest.substr(0, newline);
    rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
    if (newline != std::string_view::npos && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (line.size() >= 4 && line.starts_with("Uid:")) {
      const std::vector<std::string_view> fields = split_white_space(line);
      return fields.size() >= 3 && fields[2] == "0";
    }
  }
  return false;
}

/// Equal as paths: the same components in the same order.
bool same_path(std::string_view a, std::string_view b) {
  const bool a_rooted = a.starts_with('/');
  const bool b_rooted = b.starts_with('/');
  return a_rooted == b_rooted && components(a) == components(b);
}

/// PATH split at every ':' with empty entries kept.
std::vector<std::string_view> split_search_path(std::string_view path) {
  std::vector<std::string_view> entries;
  for (;;) {
    const std::size_t colon = path.find(':');
    entries.push_back(path.substr(0, colon));
    if (colon == std::string_view::npos) {
      return entries;
    }
    path.remove_prefix(colon + 1);
  }
}

/// `directory` and `name` joined with one '/', none added after a trailing '/'; an empty
/// directory gives the bare name.
std::string candidate_path(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && path.back() != '/') {
    path += '/';
  }
  path += name;
  return path;
}

}  // namespace

bool SystemHost::is_root() {
  const std::optional<std::string> status = read_file("/proc/self/status");
  return status.has_value() && status_text_says_root(*status);
}

bool SystemHost::in_foreign_netns() {
  const std::optional<std::string> own = read_link("/proc/self/ns/net");
  const std::optional<std::string> first = read_link("/proc/1/ns/net");
  if (!own || !first) {
    return true;
  }
  return !same_path(*own, *first);
}

bool SystemHost::tool_on_path(std::string_view name) {
  const char* value = std::getenv("PATH");  // NOLINT(concurrency-mt-unsafe): single-threaded
  std::string_view path = value == nullptr ? std::string_view() : std::string_view(value);
  if (!is_valid_utf8(path)) {
    path = {};
  }
  for (const std::string_view directory : split_search_path(path)) {
    struct stat info {};
    if (::stat(candidate_path(directory, name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      return true;
    }
  }
  return false;
}

bool SystemHost::link_exists(std::string_view name) { return can_examine("/sys/class/net/" + std::string(name)); }

bool SystemHost::ipv6_available() {
  const char* list = "/proc/net/if_inet6";
  if (!can_examine(list)) {
    return false;
  }
  // IPv6 switched off by sysctl leaves the list empty: no interface can carry IPv6 then. A
  // list that cannot be read may hold addresses, and failing on IPv6 errors stays safe.
  const std::optional<std::string> addresses = read_file(list);
  return !addresses.has_value() || !addresses->empty();
}

std::optional<InputFile> SystemHost::input_file() {
  struct stat info {};
  if (::fstat(STDIN_FILENO, &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  return InputFile{read_link("/proc/self/fd/0"), static_cast<unsigned>(info.st_mode & 07777U)};
}

}  // namespace ferroglade
