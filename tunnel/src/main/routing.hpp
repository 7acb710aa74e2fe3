#pragma once
// Routes and policy rules that carry the allowed networks into the tunnel.

#include <string_view>
#include <vector>

#include "linux/host.hpp"
#include "linux/result.hpp"
#include "main/addresses.hpp"

namespace ferroglade {

/// "-4" or "-6".
[[nodiscard]] std::string_view route_family(const IpNetwork& network);

/// Default route in ROUTE_TABLE, the two rules, and for "-4" src_valid_mark (failure ignored).
Status add_policy_routing(Host& host, std::string_view family, const IpNetwork& network);

/// One route or policy set per network in order. IPv6 failures on a host
/// without IPv6 become warning lines; every other failure is returned at once.
Status install_routes(Host& host, const std::vector<IpNetwork>& allowed_ips);

}  // namespace ferroglade
