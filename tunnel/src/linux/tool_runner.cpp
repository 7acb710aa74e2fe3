// Starting host tools by bare name, with fixed streams, and waiting for them.
#include "linux/host.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "linux/descriptor_io.hpp"
#include "linux/secret.hpp"
#include "linux/system_error.hpp"
#include "linux/text.hpp"

namespace ferroglade {
namespace {

constexpr std::string_view NUL_IN_ARGUMENT = "nul byte found in provided data";
/// Every tool is looked up in these directories only.
constexpr std::string_view SEARCH_PATH = "/usr/sbin:/usr/bin:/sbin:/bin";

/// An owned file descriptor, closed when dropped.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~Fd() { reset(); }

  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] bool is_open() const { return fd_ != -1; }
  void reset() {
    if (fd_ != -1) {
      (void)::close(fd_);
      fd_ = -1;
    }
  }

 private:
  int fd_ = -1;
};

/// Where one standard stream of a tool goes.
enum class Stream { null_device, pipe, inherited };

struct Streams {
  Stream input;
  Stream output;
  Stream errors;
};

/// A started tool and the program's ends of its pipes (closed where not a pipe).
struct Child {
  pid_t pid = -1;
  Fd input;
  Fd output;
  Fd errors;
};

/// Owns the spawn attributes and file actions so every exit path destroys them.
class SpawnSetup {
 public:
  SpawnSetup() {
    actions_ready_ = posix_spawn_file_actions_init(&actions_) == 0;
    attributes_ready_ = posix_spawnattr_init(&attributes_) == 0;
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  ~SpawnSetup() {
    if (actions_ready_) {
      (void)posix_spawn_file_actions_destroy(&actions_);
    }
    if (attributes_ready_) {
      (void)posix_spawnattr_destroy(&attributes_);
    }
  }

  /// 0, or the error number of the first step that failed.
  int prepare(const std::array<int, 3>& sources) {
    if (!actions_ready_ || !attributes_ready_) {
      return ENOMEM;
    }
    for (int target = 0; target < 3; ++target) {
      const int source = sources[static_cast<std::size_t>(target)];
      if (source == -1) {
        continue;
      }
      if (const int failed = posix_spawn_file_actions_adddup2(&actions_, source, target); failed != 0) {
        return failed;
      }
    }
    // Descriptors the caller inherited without close-on-exec must not reach tools either.
    if (const int failed = posix_spawn_file_actions_addclosefrom_np(&actions_, 3); failed != 0) {
      return failed;
    }
    sigset_t defaults;
    sigset_t mask;
    (void)sigemptyset(&defaults);
    (void)sigaddset(&defaults, SIGPIPE);
    (void)sigemptyset(&mask);
    if (const int failed = posix_spawnattr_setsigdefault(&attributes_, &defaults); failed != 0) {
      return failed;
    }
    if (const int failed = posix_spawnattr_setsigmask(&attributes_, &mask); failed != 0) {
      return failed;
    }
    return posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attributes_{};
  bool actions_ready_ = false;
  bool attributes_ready_ = false;
};

bool has_nul(const CommandLine& command) {
  for (const std::string& element : command) {
    if (element.find('\0') != std::string::npos) {
      return true;
    }
  }
  return false;
}

/// 0, or the error number; `reading` and `writing` are close-on-exec.
int make_pipe(Fd& reading, Fd& writing) {
  std::array<int, 2> ends{};
  if (::pipe2(ends.data(), O_CLOEXEC) != 0) {
    return errno;
  }
  reading = Fd(ends[0]);
  writing = Fd(ends[1]);
  return 0;
}

/// The tool's ends of its standard streams, kept open until it has been started.
struct ToolEnds {
  Fd null_device;
  std::array<Fd, 3> pipes;
  /// The descriptor each of 0, 1 and 2 is duplicated from; -1 leaves it inherited.
  std::array<int, 3> sources = {-1, -1, -1};
};

/// 0, or the error number; the program's ends of the pipes go to `child`.
int connect_streams(Streams streams, Child& child, ToolEnds& ends) {
  const std::array<Fd*, 3> own_ends = {&child.input, &child.output, &child.errors};
  const std::array<Stream, 3> kinds = {streams.input, streams.output, streams.errors};
  for (std::size_t i = 0; i < 3; ++i) {
    if (kinds[i] == Stream::null_device) {
      if (!ends.null_device.is_open()) {
        ends.null_device = Fd(::open("/dev/null", O_RDWR | O_CLOEXEC));
        if (!ends.null_device.is_open()) {
          return errno;
        }
      }
      ends.sources[i] = ends.null_device.get();
    } else if (kinds[i] == Stream::pipe) {
      const int failed = i == 0 ? make_pipe(ends.pipes[i], *own_ends[i]) : make_pipe(*own_ends[i], ends.pipes[i]);
      if (failed != 0) {
        return failed;
      }
      ends.sources[i] = ends.pipes[i].get();
    }
  }
  return 0;
}

/// Starts `command` by bare name through PATH. The error is the bare text.
Result<Child> start(const CommandLine& command, Streams streams) {
  if (command.empty()) {
    return fail(system_error_text(EINVAL));
  }
  if (has_nul(command)) {
    return fail(std::string(NUL_IN_ARGUMENT));
  }
  Child child;
  ToolEnds ends;
  if (const int failed = connect_streams(streams, child, ends); failed != 0) {
    return fail(system_error_text(failed));
  }
  // Descriptors 0 to 2 are always open (the front end sees to it), so no end above can
  // sit on a target that an earlier dup2 replaces.
  SpawnSetup setup;
  if (const int failed = setup.prepare(ends.sources); failed != 0) {
    return fail(system_error_text(failed));
  }
  std::vector<char*> argv;
  argv.reserve(command.size() + 1);
  for (const std::string& element : command) {
    argv.push_back(const_cast<char*>(element.c_str()));  // NOLINT: the exec interface is not const-correct
  }
  argv.push_back(nullptr);
  // glibc reports a failed exec (not found, no permission) as this result.
  const int failed = ::posix_spawnp(&child.pid, argv[0], setup.actions(), setup.attributes(), argv.data(), environ);
  if (failed != 0) {
    return fail(system_error_text(failed));
  }
  return child;
}

/// Reads the output and error pipes together until both end; keeps what came on
/// the error pipe. A pipe that cannot be read is given up with what it gave: the
/// exit status, not the complaint, tells whether the tool did its work.
std::string drain(Child& child) {
  std::string errors;
  std::array<char, 65536> buffer{};
  while (child.output.is_open() || child.errors.is_open()) {
    std::array<pollfd, 2> watched = {pollfd{child.output.get(), POLLIN, 0}, pollfd{child.errors.get(), POLLIN, 0}};
    if (::poll(watched.data(), watched.size(), -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    for (std::size_t i = 0; i < watched.size(); ++i) {
      if (watched[i].fd == -1 || watched[i].revents == 0) {
        continue;
      }
      Fd& source = i == 0 ? child.output : child.errors;
      const ssize_t got = ::read(source.get(), buffer.data(), buffer.size());
      if (got > 0) {
        if (&source == &child.errors) {
          errors.append(buffer.data(), static_cast<std::size_t>(got));
        }
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        source.reset();
      }
    }
  }
  child.output.reset();
  child.errors.reset();
  // What wg read may come back in its complaint.
  wipe(buffer.data(), buffer.size());
  return errors;
}

/// 0 and `succeeded` set, or the error number of the wait.
int wait_for(pid_t pid, bool& succeeded) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      return errno;
    }
  }
  succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return 0;
}

/// After a failed input write the tool is not waited for; reap it only if it is already
/// gone. Its pipes close with `child`.
Error abandon(const Child& child, int errnum) {
  (void)::waitpid(child.pid, nullptr, WNOHANG);
  return fail(system_error_text(errnum));
}

/// "<command line joined by single spaces>: <stderr decoded lossily and trimmed>".
std::string failed_command_text(const CommandLine& command, std::string_view captured_stderr) {
  std::string text;
  for (const std::string& element : command) {
    if (&element != &command.front()) {
      text += ' ';
    }
    text += element;
  }
  return text + ": " + std::string(trim(decode_utf8_lossy(captured_stderr)));
}

}  // namespace

void SystemHost::reset_search_path() { (void)::setenv("PATH", std::string(SEARCH_PATH).c_str(), 1); }

Status SystemHost::run_tool(const CommandLine& command) {
  const std::string program = command.empty() ? std::string() : command.front();
  Result<Child> child = start(command, {Stream::null_device, Stream::pipe, Stream::pipe});
  if (!child) {
    return fail(program + ": " + child.error().text);
  }
  const std::string errors = drain(child.value());
  bool succeeded = false;
  if (const int failed = wait_for(child->pid, succeeded); failed != 0) {
    return fail(program + ": " + system_error_text(failed));
  }
  if (succeeded) {
    return {};
  }
  return fail(failed_command_text(command, errors));
}

bool SystemHost::tool_succeeds(const CommandLine& command) {
  Result<Child> child = start(command, {Stream::null_device, Stream::null_device, Stream::null_device});
  if (!child) {
    return false;
  }
  bool succeeded = false;
  return wait_for(child->pid, succeeded) == 0 && succeeded;
}

Result<ToolOutcome> SystemHost::run_tool_with_input(const CommandLine& command, std::string_view input,
                                                    ToolOutput output) {
  const bool captured = output == ToolOutput::captured;
  const Streams streams = captured ? Streams{Stream::pipe, Stream::null_device, Stream::pipe}
                                   : Streams{Stream::pipe, Stream::inherited, Stream::inherited};
  Result<Child> child = start(command, streams);
  if (!child) {
    return std::move(child).error();
  }
  if (const int failed = write_all(child->input.get(), input); failed != 0) {
    return abandon(child.value(), failed);
  }
  child->input.reset();
  // The tool may quote its input: what it says is wiped like the input.
  const SecretText errors(captured ? drain(child.value()) : std::string());
  ToolOutcome outcome;
  if (const int failed = wait_for(child->pid, outcome.succeeded); failed != 0) {
    return fail(system_error_text(failed));
  }
  if (!outcome.succeeded) {
    const SecretText decoded(decode_utf8_lossy(errors.view()));
    outcome.errors = SecretText(std::string(trim(decoded.view())));
  }
  return outcome;
}

}  // namespace ferroglade
