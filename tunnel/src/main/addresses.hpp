#pragma once
// IP addresses, networks and socket addresses: strict parsing and canonical text.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "linux/result.hpp"

namespace ferroglade {

enum class Family : std::uint8_t { ipv4, ipv6 };

/// An IPv4 address uses the first 4 bytes (network byte order); the rest stay 0.
struct IpAddress {
  Family family = Family::ipv4;
  std::array<std::uint8_t, 16> bytes{};
  friend bool operator==(const IpAddress&, const IpAddress&) = default;
};

/// A network: every address bit beyond `prefix_length` is zero.
struct IpNetwork {
  IpAddress address;
  std::uint8_t prefix_length = 0;
  [[nodiscard]] Family family() const { return address.family; }
  friend bool operator==(const IpNetwork&, const IpNetwork&) = default;
};

/// An endpoint; `scope_id` is only meaningful for IPv6 and 0 when none was written.
struct SocketAddress {
  IpAddress address;
  std::uint16_t port = 0;
  std::uint32_t scope_id = 0;
  friend bool operator==(const SocketAddress&, const SocketAddress&) = default;
};

/// Strict IPv4 (no leading zeros) or IPv6 (RFC 4291 2.2, optional dotted tail).
/// Nothing is trimmed; no zone, brackets or host names.
[[nodiscard]] std::optional<IpAddress> parse_ip_address(std::string_view text);

/// An address with the prefix length written after it; unlike IpNetwork, host bits are kept.
struct PrefixedAddress {
  IpAddress address;
  std::uint8_t prefix_length = 0;
};

/// Trims, splits at the first '/', and reads the address part and the prefix length (the
/// family's full length when there is no '/'). Errors: "bad address <part>",
/// "bad prefix <part>", "prefix /N too long", each part quoted as it stood after the split.
[[nodiscard]] Result<PrefixedAddress> parse_prefixed_address(std::string_view text);

/// parse_prefixed_address, then every bit beyond the prefix length cleared.
[[nodiscard]] Result<IpNetwork> parse_network(std::string_view text);

/// "a.b.c.d:port" or "[v6(%scope)]:port" with port 0..65535. Nothing is trimmed.
[[nodiscard]] std::optional<SocketAddress> parse_socket_address(std::string_view text);

/// Dotted decimal, or RFC 5952 (a dotted tail only for ::ffff:a.b.c.d).
[[nodiscard]] std::string render_address(const IpAddress& address);

/// Address "/" prefix length.
[[nodiscard]] std::string render_network(const IpNetwork& network);

/// "a.b.c.d:port", "[v6]:port" or "[v6%scope]:port".
[[nodiscard]] std::string render_socket_address(const SocketAddress& address);

}  // namespace ferroglade
