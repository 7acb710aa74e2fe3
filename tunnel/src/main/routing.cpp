#include "main/routing.hpp"

#include <string>

#include "main/tunnel_names.hpp"

namespace ferroglade {
namespace {

constexpr std::string_view NO_IPV6_WARNING = "warning: no IPv6 on this system: ";

Status add_main_table_route(Host& host, std::string_view family, const IpNetwork& network) {
  return host.run_tool(
      {"ip", std::string(family), "route", "add", render_network(network), "dev", std::string(INTERFACE_NAME)});
}

Status add_routes_for(Host& host, const IpNetwork& network) {
  const std::string_view family = route_family(network);
  if (network.prefix_length == 0) {
    return add_policy_routing(host, family, network);
  }
  return add_main_table_route(host, family, network);
}

}  // namespace

std::string_view route_family(const IpNetwork& network) { return network.family() == Family::ipv6 ? "-6" : "-4"; }

Status add_policy_routing(Host& host, std::string_view family, const IpNetwork& network) {
  const std::string flag(family);
  const std::string table(ROUTE_TABLE);
  if (Status added = host.run_tool(
          {"ip", flag, "route", "add", render_network(network), "dev", std::string(INTERFACE_NAME), "table", table});
      !added.ok()) {
    return added;
  }
  if (Status added = host.run_tool({"ip", flag, "rule", "add", "not", "fwmark", std::string(FWMARK), "table", table,
                                    "pref", std::string(RULE_PREF_TUNNEL)});
      !added.ok()) {
    return added;
  }
  if (Status added = host.run_tool({"ip", flag, "rule", "add", "table", "main", "suppress_prefixlength", "0", "pref",
                                    std::string(RULE_PREF_MAIN)});
      !added.ok()) {
    return added;
  }
  if (family == "-4") {
    // Lets reverse-path filtering take the mark into account. The tunnel still
    // routes without it, so a refused write is not worth failing `up` for.
    (void)host.write_file(SRC_VALID_MARK_PATH, "1");
  }
  return {};
}

Status install_routes(Host& host, const std::vector<IpNetwork>& allowed_ips) {
  for (const IpNetwork& network : allowed_ips) {
    Status added = add_routes_for(host, network);
    if (added.ok()) {
      continue;
    }
    // ipv6_available is asked afresh after each failure, never up front.
    if (network.family() == Family::ipv4 || host.ipv6_available()) {
      return added;
    }
    host.write_error(std::string(NO_IPV6_WARNING) + added.error().text + "\n");
  }
  return {};
}

}  // namespace ferroglade
