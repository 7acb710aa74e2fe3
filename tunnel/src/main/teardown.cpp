#include "main/teardown.hpp"

namespace ferroglade {

Status tear_down(Host& host) {
  host.reset_search_path();
  if (!host.is_root()) {
    return fail("must run as root (pkexec)");
  }
  return fail("down is not built yet");
}

Status down_command() {
  SystemHost host;
  return tear_down(host);
}

}  // namespace ferroglade
