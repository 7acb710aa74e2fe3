// The real host's files, standard streams and run lock.
#include "linux/host.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "linux/descriptor_io.hpp"
#include "linux/system_error.hpp"

namespace ferroglade {

void SystemHost::serialise_runs(std::string_view path) {
  if (run_lock_ != -1) {
    return;
  }
  // Mode 0600 in a root-only directory: no other user can take the lock first. O_NOFOLLOW
  // keeps a planted link from pointing it elsewhere.
  run_lock_ = ::open(std::string(path).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (run_lock_ == -1) {
    return;
  }
  // The kernel drops the lock when the process ends, SIGKILL included.
  while (::flock(run_lock_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

bool SystemHost::write_file(std::string_view path, std::string_view content) {
  const std::string path_text(path);
  const int fd = ::open(path_text.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd == -1) {
    return false;
  }
  const bool written = write_all(fd, content) == 0;
  return ::close(fd) == 0 && written;
}

Result<std::size_t> SystemHost::read_input(std::span<char> buffer) {
  std::size_t used = 0;
  while (used < buffer.size()) {
    const ssize_t got = ::read(STDIN_FILENO, buffer.data() + used, buffer.size() - used);
    if (got > 0) {
      used += static_cast<std::size_t>(got);
      continue;
    }
    if (got == 0 || errno == EBADF) {
      break;
    }
    if (errno != EINTR) {
      return fail(system_error_text(errno));
    }
  }
  return used;
}

Status SystemHost::write_output(std::string_view text) {
  if (const int failed = write_all(STDOUT_FILENO, text); failed != 0) {
    return fail(system_error_text(failed));
  }
  return {};
}

void SystemHost::write_error(std::string_view text) { (void)write_all(STDERR_FILENO, text); }

}  // namespace ferroglade
