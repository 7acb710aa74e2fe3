#include "main/addresses.hpp"

namespace ferroglade {

std::optional<IpAddress> parse_ip_address(std::string_view) { return std::nullopt; }
Result<IpNetwork> parse_network(std::string_view) { return fail("not built yet"); }
std::optional<SocketAddress> parse_socket_address(std::string_view) { return std::nullopt; }
std::string render_address(const IpAddress&) { return {}; }
std::string render_network(const IpNetwork&) { return {}; }
std::string render_socket_address(const SocketAddress&) { return {}; }

}  // namespace ferroglade
