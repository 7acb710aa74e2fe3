#include "main/bring_up.hpp"

namespace ferroglade {

Status bring_up(Host& host, const ConfigReader&) {
  host.reset_search_path();
  if (!host.is_root()) {
    return fail("must run as root (pkexec)");
  }
  return fail("up is not built yet");
}

Status up_command() {
  SystemHost host;
  return bring_up(host, read_config);
}

}  // namespace ferroglade
