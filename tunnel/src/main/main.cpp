// The entry: the process-wide start-up steps, then one command on the real host.

#include <unistd.h>

#include <string_view>

#include "linux/descriptor_io.hpp"
#include "linux/host.hpp"
#include "linux/system_error.hpp"
#include "main/front_end.hpp"

int main(int argc, char** argv) {
  if (const int failed = ferroglade::prepare_process(); failed != 0) {
    (void)ferroglade::write_all(STDERR_FILENO, "error: /dev/null: " + ferroglade::system_error_text(failed) + "\n");
    return 1;
  }
  // Compared byte for byte, so an argument that is not UTF-8 matches no command word.
  const std::string_view word = argc > 1 && argv[1] != nullptr ? argv[1] : "";
  ferroglade::SystemHost host;
  return ferroglade::dispatch_command(host, word);
}
