#include "main/teardown.hpp"

#include <string>

#include "linux/dns_backends.hpp"
#include "main/tunnel_names.hpp"

namespace ferroglade {
namespace {

// Each `up` adds one copy of each rule; the bound keeps a host that somehow
// holds very many copies from stalling `down`.
constexpr int RULE_DELETE_RUNS = 8;

CommandLine rule_deletion(std::string_view family, bool tunnel_rule) {
  CommandLine command{"ip", std::string(family), "rule", "del"};
  if (tunnel_rule) {
    command.insert(command.end(), {"pref", std::string(RULE_PREF_TUNNEL), "not", "fwmark", std::string(FWMARK), "table",
                                   std::string(ROUTE_TABLE)});
  } else {
    command.insert(command.end(), {"pref", std::string(RULE_PREF_MAIN), "table", "main", "suppress_prefixlength", "0"});
  }
  return command;
}

void delete_rules(Host& host) {
  for (const std::string_view family : {"-4", "-6"}) {
    for (const bool tunnel_rule : {true, false}) {
      const CommandLine command = rule_deletion(family, tunnel_rule);
      // Each run deletes at most one copy; a failure means none is left.
      for (int runs = 0; runs < RULE_DELETE_RUNS; ++runs) {
        if (!host.tool_succeeds(command)) {
          break;
        }
      }
    }
  }
}

}  // namespace

Status begin_privileged(Host& host) {
  host.reset_search_path();
  if (!host.is_root()) {
    return fail("must run as root (pkexec)");
  }
  host.serialise_runs(RUN_LOCK_PATH);
  return {};
}

Status tear_down(Host& host) {
  if (Status begun = begin_privileged(host); !begun.ok()) {
    return begun;
  }
  delete_rules(host);
  if (host.link_exists(INTERFACE_NAME)) {
    if (Status deleted = host.run_tool({"ip", "link", "del", "dev", std::string(INTERFACE_NAME)}); !deleted.ok()) {
      // The record stays until a `down` that gets this far, so DNS is never
      // withdrawn from under a tunnel that is still there.
      return deleted;
    }
  }
  remove_dns(host, RESOLVCONF_RECORD);
  return {};
}

Status down_command() {
  SystemHost host;
  return tear_down(host);
}

}  // namespace ferroglade
