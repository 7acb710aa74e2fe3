#include "main/dns_backends.hpp"

#include "main/tunnel_names.hpp"

namespace ferroglade {
namespace {

constexpr std::string_view NO_BACKEND = "dns: neither systemd-resolved nor resolvconf is available";
constexpr std::string_view NAMESPACE_WARNING = "warning: network namespace: DNS left alone\n";

bool resolved_usable(Host& host) {
  return host.tool_on_path("resolvectl") && host.tool_succeeds({"resolvectl", "status"});
}

Status use_resolved(Host& host, std::string_view server) {
  const std::string link(INTERFACE_NAME);
  if (Status set = host.run_tool({"resolvectl", "dns", link, std::string(server)}); !set.ok()) {
    return set;
  }
  if (Status set = host.run_tool({"resolvectl", "domain", link, "~."}); !set.ok()) {
    return set;
  }
  // Older systemd-resolved lacks default-route; the routing domain alone still works.
  (void)host.tool_succeeds({"resolvectl", "default-route", link, "true"});
  return {};
}

Status use_resolvconf(Host& host, std::string_view server) {
  // resolvconf speaks to the user itself, so its complaint is not captured.
  Result<ToolOutcome> added =
      host.run_tool_with_input({"resolvconf", "-a", std::string(RESOLVCONF_RECORD), "-m", "0", "-x"},
                               "nameserver " + std::string(server) + "\n", ToolOutput::inherited);
  if (!added) {
    return std::move(added).error();
  }
  if (!added->succeeded) {
    return fail(std::string(NO_BACKEND));
  }
  return {};
}

Status configure_dns(Host& host, std::string_view server) {
  if (resolved_usable(host)) {
    return use_resolved(host, server);
  }
  if (host.tool_on_path("resolvconf")) {
    return use_resolvconf(host, server);
  }
  return fail(std::string(NO_BACKEND));
}

}  // namespace

Status set_up_dns(Host& host, const std::optional<std::string>& server) {
  if (!server.has_value()) {
    return {};
  }
  // The host's resolver belongs to the namespace of process 1; pointing it at
  // an interface it cannot see would break name resolution there.
  if (host.in_foreign_netns()) {
    host.write_error(NAMESPACE_WARNING);
    return {};
  }
  return configure_dns(host, *server);
}

void remove_dns(Host& host) {
  if (!host.tool_on_path("resolvconf") || host.in_foreign_netns()) {
    return;
  }
  (void)host.tool_succeeds({"resolvconf", "-d", std::string(RESOLVCONF_RECORD), "-f"});
}

}  // namespace ferroglade
