#pragma once
// Routes and policy rules that carry the allowed networks into the tunnel.

#include <vector>

#include "linux/host.hpp"
#include "linux/result.hpp"
#include "main/addresses.hpp"

namespace ferroglade {

/// One route or policy set per network in order: a default network gets a route in
/// ROUTE_TABLE, the policy rules and, for IPv4, src_valid_mark (failure ignored); any
/// other network a route in the main table. IPv6 failures on a host without IPv6
/// become warning lines; every other failure is returned at once.
Status install_routes(Host& host, const std::vector<IpNetwork>& allowed_ips);

/// Deletes every copy of each policy rule in both families, up to a bound per rule;
/// quietly, since a rule that is not there is the usual case.
void delete_policy_rules(Host& host);

}  // namespace ferroglade
