#pragma once
// Turns the document into the configuration that bring-up works from.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "linux/result.hpp"
#include "linux/secret.hpp"
#include "main/addresses.hpp"
#include "main/tunnel_config.hpp"

namespace ferroglade {

inline constexpr std::uint8_t ADDRESS_PREFIX_MIN = 8;
inline constexpr std::size_t ALLOWED_IPS_MAX = 16;
inline constexpr std::uint32_t MTU_MIN = 1280;
inline constexpr std::uint32_t MTU_MAX = 1420;
inline constexpr std::uint16_t KEEPALIVE_MAX = 600;

/// The interface address exactly as written (host bits kept) and its prefix length.
struct InterfaceAddress {
  IpAddress address;
  std::uint8_t prefix_length = 32;
};

struct ValidatedConfig {
  SecretText private_key;       ///< trimmed canonical Base64 of 32 bytes
  std::string peer_public_key;  ///< trimmed canonical Base64 of 32 bytes
  InterfaceAddress address;     ///< IPv4, prefix 8..32
  std::optional<IpAddress> dns;
  SocketAddress endpoint;              ///< port 1..65535
  std::vector<IpNetwork> allowed_ips;  ///< 1..16, document order
  std::uint32_t mtu = MTU_MAX;         ///< 1280..1420
  std::uint16_t keepalive = 0;         ///< 0..600
};

/// Checks every field in a fixed order; the first failure's text is returned.
/// Pure: touches nothing on the host.
[[nodiscard]] Result<ValidatedConfig> validate_config(const TunnelConfig& config);

}  // namespace ferroglade
