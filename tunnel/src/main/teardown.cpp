#include "main/teardown.hpp"

#include <string>

#include "main/dns_backends.hpp"
#include "main/routing.hpp"
#include "main/tunnel_names.hpp"

namespace ferroglade {

Status remove_tunnel(Host& host) {
  delete_policy_rules(host);
  if (host.link_exists(INTERFACE_NAME)) {
    if (Status deleted = host.run_tool({"ip", "link", "del", "dev", std::string(INTERFACE_NAME)}); !deleted.ok()) {
      // The record stays until a `down` that gets this far, so DNS is never
      // withdrawn from under a tunnel that is still there.
      return deleted;
    }
  }
  remove_dns(host);
  return {};
}

}  // namespace ferroglade
