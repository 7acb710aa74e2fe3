#pragma once
// The TunnelConfig document read from standard input.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "linux/host.hpp"
#include "linux/result.hpp"
#include "linux/secret.hpp"

namespace ferroglade {

inline constexpr std::size_t CONFIG_INPUT_LIMIT = 65536;

/// The document's eight fields in declaration order, as the JSON strings decode
/// (nothing trimmed or checked beyond JSON types and integer ranges).
struct TunnelConfig {
  SecretText private_key;
  std::string address;
  std::optional<std::string> dns;
  std::uint32_t mtu = 0;
  std::string peer_public_key;
  std::string endpoint;
  std::vector<std::string> allowed_ips;
  std::uint16_t keepalive = 0;
};

/// Reads at most CONFIG_INPUT_LIMIT bytes of the host's standard input and parses them.
/// The input buffer is wiped before returning.
[[nodiscard]] Result<TunnelConfig> read_config(Host& host);

/// The UTF-8 check and the document binding on bytes already read. Errors:
/// "stream did not contain valid UTF-8", or "config json: <message> at line L column C".
[[nodiscard]] Result<TunnelConfig> parse_config(std::string_view input);

}  // namespace ferroglade
