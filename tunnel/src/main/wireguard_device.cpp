#include "main/wireguard_device.hpp"

#include <algorithm>
#include <string>

#include "linux/secret.hpp"
#include "main/tunnel_names.hpp"

namespace ferroglade {
namespace {

std::string joined_networks(const std::vector<IpNetwork>& networks) {
  std::string joined;
  for (const IpNetwork& network : networks) {
    if (!joined.empty()) {
      joined += ',';
    }
    joined += render_network(network);
  }
  return joined;
}

bool has_default_network(const std::vector<IpNetwork>& networks) {
  return std::any_of(networks.begin(), networks.end(),
                     [](const IpNetwork& network) { return network.prefix_length == 0; });
}

CommandLine peer_command(const ValidatedConfig& config) {
  CommandLine command{"wg", "set", std::string(INTERFACE_NAME), "private-key", "/dev/stdin"};
  // The device marks its own packets so that the policy rules let them leave
  // by the host's ordinary route instead of looping back into the tunnel.
  if (has_default_network(config.allowed_ips)) {
    command.emplace_back("fwmark");
    command.emplace_back(FWMARK);
  }
  command.insert(command.end(), {"peer", config.peer_public_key, "endpoint", render_socket_address(config.endpoint),
                                 "persistent-keepalive", std::to_string(config.keepalive), "allowed-ips",
                                 joined_networks(config.allowed_ips)});
  return command;
}

// wg is not ours: should it ever quote what it read, the key must still not
// travel on in an error text that callers print and log.
std::string without_key(std::string_view text, std::string_view key) {
  std::string redacted;
  for (std::size_t start = 0;;) {
    const std::size_t found = key.empty() ? std::string_view::npos : text.find(key, start);
    redacted.append(text.substr(start, found - start));
    if (found == std::string_view::npos) {
      return redacted;
    }
    redacted += "(private key)";
    start = found + key.size();
  }
}

}  // namespace

Status create_link(Host& host) {
  Status created = host.run_tool({"ip", "link", "add", std::string(INTERFACE_NAME), "type", "wireguard"});
  if (created.ok()) {
    return created;
  }
  Error error = std::move(created).error();
  error.text.insert(0, "wireguard_module: ");
  return error;
}

Status configure_peer(Host& host, const ValidatedConfig& config) {
  const std::string_view key = config.private_key.view();
  SecretText input;
  input.buffer().reserve(key.size() + 1);
  input.buffer().append(key).push_back('\n');
  Result<ToolOutcome> peered = host.run_tool_with_input(peer_command(config), input.view(), ToolOutput::captured);
  if (!peered) {
    return std::move(peered).error();
  }
  if (peered->succeeded) {
    return {};
  }
  return fail("wg set: " + without_key(peered->errors.view(), key));
}

Status assign_address(Host& host, const ValidatedConfig& config) {
  const std::string address =
      render_address(config.address.address) + "/" + std::to_string(config.address.prefix_length);
  return host.run_tool({"ip", "-4", "address", "add", address, "dev", std::string(INTERFACE_NAME)});
}

Status set_mtu_and_up(Host& host, const ValidatedConfig& config) {
  return host.run_tool(
      {"ip", "link", "set", "dev", std::string(INTERFACE_NAME), "mtu", std::to_string(config.mtu), "up"});
}

}  // namespace ferroglade
