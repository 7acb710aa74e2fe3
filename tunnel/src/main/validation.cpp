#include "main/validation.hpp"

#include <algorithm>
#include <string>
#include <string_view>

#include "linux/text.hpp"
#include "main/keys.hpp"

namespace ferroglade {
namespace {

// The interface keeps the address as written, host bits and all.
Result<InterfaceAddress> interface_address(std::string_view text) {
  Result<PrefixedAddress> prefixed = parse_prefixed_address(text);
  if (!prefixed) {
    return std::move(prefixed).error();
  }
  if (prefixed->address.family != Family::ipv4) {
    return fail("address must be IPv4");
  }
  if (prefixed->prefix_length < ADDRESS_PREFIX_MIN) {
    return fail("address prefix too short");
  }
  return InterfaceAddress{prefixed->address, prefixed->prefix_length};
}

Result<std::vector<IpNetwork>> allowed_networks(const std::vector<std::string>& entries) {
  if (entries.empty() || entries.size() > ALLOWED_IPS_MAX) {
    return fail("allowed_ips: 1.." + std::to_string(ALLOWED_IPS_MAX) + " entries");
  }
  std::vector<IpNetwork> networks;
  networks.reserve(entries.size());
  for (const std::string& entry : entries) {
    Result<IpNetwork> network = parse_network(entry);
    if (!network) {
      return std::move(network).error();
    }
    networks.push_back(network.value());
  }
  return networks;
}

}  // namespace

Result<ValidatedConfig> validate_config(const TunnelConfig& config) {
  for (std::string_view key : {config.private_key.view(), std::string_view(config.peer_public_key)}) {
    if (Status checked = check_key(key); !checked) {
      return std::move(checked).error();
    }
  }
  Result<InterfaceAddress> address = interface_address(config.address);
  if (!address) {
    return std::move(address).error();
  }
  std::optional<IpAddress> dns;
  if (config.dns) {
    dns = parse_ip_address(trim(*config.dns));
    if (!dns) {
      return fail("bad dns");
    }
  }
  std::optional<SocketAddress> endpoint = parse_socket_address(trim(config.endpoint));
  if (!endpoint) {
    return fail("endpoint must be ip:port");
  }
  if (endpoint->port == 0) {
    return fail("bad endpoint port");
  }
  Result<std::vector<IpNetwork>> allowed_ips = allowed_networks(config.allowed_ips);
  if (!allowed_ips) {
    return std::move(allowed_ips).error();
  }

  ValidatedConfig result;
  result.private_key = SecretText(std::string(trim(config.private_key.view())));
  result.peer_public_key = std::string(trim(config.peer_public_key));
  result.address = address.value();
  result.dns = dns;
  result.endpoint = *endpoint;
  result.allowed_ips = std::move(allowed_ips).value();
  result.mtu = std::clamp(config.mtu, MTU_MIN, MTU_MAX);
  result.keepalive = std::min(config.keepalive, KEEPALIVE_MAX);
  return result;
}

}  // namespace ferroglade
