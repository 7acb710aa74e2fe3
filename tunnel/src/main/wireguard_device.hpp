#pragma once
// The WireGuard link, its key and peer, its address, MTU and link state.

#include "linux/host.hpp"
#include "linux/result.hpp"
#include "main/validation.hpp"

namespace ferroglade {

/// ip link add ferroglade type wireguard; errors get "wireguard_module: " in front.
Status create_link(Host& host);

/// wg set ... with the private key on wg's standard input only.
Status configure_peer(Host& host, const ValidatedConfig& config);

/// ip -4 address add <address>/<prefix> dev ferroglade
Status assign_address(Host& host, const ValidatedConfig& config);

/// ip link set dev ferroglade mtu <mtu> up
Status set_mtu_and_up(Host& host, const ValidatedConfig& config);

}  // namespace ferroglade
