#include "linux/dns_backends.hpp"

namespace ferroglade {
namespace {

constexpr std::string_view NO_BACKEND = "dns: neither systemd-resolved nor resolvconf is available";
constexpr std::string_view NAMESPACE_WARNING = "warning: network namespace: DNS left alone\n";

bool resolved_usable(Host& host) {
  return host.tool_on_path("resolvectl") && host.tool_succeeds({"resolvectl", "status"});
}

Status use_resolved(Host& host, std::string_view link_name, std::string_view server) {
  const std::string link(link_name);
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

Status use_resolvconf(Host& host, std::string_view record, std::string_view server) {
  Status added = host.run_tool_with_input(InputInstance::resolver,
                                          {"resolvconf", "-a", std::string(record), "-m", "0", "-x"}, server);
  if (!added.ok() && added.error().tool_unsuccessful) {
    return fail(std::string(NO_BACKEND));
  }
  return added;
}

}  // namespace

Status set_up_dns(Host& host, const DnsTarget& target, const std::optional<std::string>& server) {
  if (!server.has_value()) {
    return {};
  }
  // The host's resolver belongs to the namespace of process 1; pointing it at
  // an interface it cannot see would break name resolution there.
  if (host.in_foreign_netns()) {
    host.write_error(NAMESPACE_WARNING);
    return {};
  }
  return configure_dns(host, target, *server);
}

Status configure_dns(Host& host, const DnsTarget& target, std::string_view server) {
  if (resolved_usable(host)) {
    return use_resolved(host, target.link, server);
  }
  if (host.tool_on_path("resolvconf")) {
    return use_resolvconf(host, target.record, server);
  }
  return fail(std::string(NO_BACKEND));
}

void remove_dns(Host& host, std::string_view record) {
  if (!host.tool_on_path("resolvconf") || host.in_foreign_netns()) {
    return;
  }
  (void)host.tool_succeeds({"resolvconf", "-d", std::string(record), "-f"});
}

}  // namespace ferroglade
