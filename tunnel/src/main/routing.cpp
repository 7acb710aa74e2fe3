#include "main/routing.hpp"

namespace ferroglade {

std::string_view route_family(const IpNetwork& network) { return network.family() == Family::ipv6 ? "-6" : "-4"; }
Status add_policy_routing(Host&, std::string_view, const IpNetwork&) { return fail("routing not built yet"); }
Status install_routes(Host&, const std::vector<IpNetwork>&) { return fail("routing not built yet"); }

}  // namespace ferroglade
