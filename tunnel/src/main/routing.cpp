#include "main/routing.hpp"

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "main/tunnel_names.hpp"

namespace ferroglade {
namespace {

constexpr std::string_view NO_IPV6_WARNING = "warning: no IPv6 on this system: ";

// Each `up` adds one copy of each rule; the bound keeps a host that somehow
// holds very many copies from stalling `down`.
constexpr int RULE_DELETE_RUNS = 8;

/// A policy rule: its preference and what it selects. Adding and deleting both read
/// this, so that `down` removes exactly the rules that `up` adds.
struct PolicyRule {
  std::string_view pref;
  std::span<const std::string_view> selector;
};

constexpr std::array<std::string_view, 5> TUNNEL_SELECTOR = {"not", "fwmark", FWMARK, "table", ROUTE_TABLE};
constexpr std::array<std::string_view, 4> MAIN_SELECTOR = {"table", "main", "suppress_prefixlength", "0"};
constexpr std::array<PolicyRule, 2> POLICY_RULES = {{
    {RULE_PREF_TUNNEL, TUNNEL_SELECTOR},
    {RULE_PREF_MAIN, MAIN_SELECTOR},
}};
constexpr std::array<std::string_view, 2> FAMILIES = {"-4", "-6"};

/// ip <family> rule add <selector> pref <pref>, or ip <family> rule del pref <pref> <selector>.
CommandLine rule_command(std::string_view family, std::string_view action, const PolicyRule& rule) {
  CommandLine command{"ip", std::string(family), "rule", std::string(action)};
  const bool adding = action == "add";
  if (!adding) {
    command.insert(command.end(), {"pref", std::string(rule.pref)});
  }
  command.insert(command.end(), rule.selector.begin(), rule.selector.end());
  if (adding) {
    command.insert(command.end(), {"pref", std::string(rule.pref)});
  }
  return command;
}

std::string_view route_family(const IpNetwork& network) { return network.family() == Family::ipv6 ? "-6" : "-4"; }

Status add_policy_routing(Host& host, std::string_view family, const IpNetwork& network) {
  if (Status added = host.run_tool({"ip", std::string(family), "route", "add", render_network(network), "dev",
                                    std::string(INTERFACE_NAME), "table", std::string(ROUTE_TABLE)});
      !added.ok()) {
    return added;
  }
  for (const PolicyRule& rule : POLICY_RULES) {
    if (Status added = host.run_tool(rule_command(family, "add", rule)); !added.ok()) {
      return added;
    }
  }
  if (family == "-4") {
    // Lets reverse-path filtering take the mark into account. The tunnel still
    // routes without it, so a refused write is not worth failing `up` for.
    (void)host.write_file(SRC_VALID_MARK_PATH, "1");
  }
  return {};
}

Status add_routes_for(Host& host, const IpNetwork& network) {
  const std::string_view family = route_family(network);
  if (network.prefix_length == 0) {
    return add_policy_routing(host, family, network);
  }
  return host.run_tool(
      {"ip", std::string(family), "route", "add", render_network(network), "dev", std::string(INTERFACE_NAME)});
}

}  // namespace

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

void delete_policy_rules(Host& host) {
  for (const std::string_view family : FAMILIES) {
    for (const PolicyRule& rule : POLICY_RULES) {
      const CommandLine command = rule_command(family, "del", rule);
      // Each run deletes at most one copy; a failure means none is left.
      for (int runs = 0; runs < RULE_DELETE_RUNS; ++runs) {
        if (!host.tool_succeeds(command)) {
          break;
        }
      }
    }
  }
}

}  // namespace ferroglade
