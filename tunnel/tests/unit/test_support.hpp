#pragma once
// Values and guards shared by several unit tests.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "main/addresses.hpp"
#include "main/tunnel_config.hpp"

namespace ferroglade::testing {

// Both decode to 32 bytes.
inline constexpr const char* PRIVATE_KEY = "AQIDBAUGBwgJCgsMDQ4PEBESExQVFhcYGRobHB0eHyA=";
inline constexpr const char* PEER_KEY = "QkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkI=";

/// The typical document: full IPv4 tunnel, DNS 10.8.0.1.
inline TunnelConfig typical_document() {
  TunnelConfig config;
  config.private_key = SecretText(PRIVATE_KEY);
  config.address = "10.8.0.2/24";
  config.dns = "10.8.0.1";
  config.mtu = 1420;
  config.peer_public_key = PEER_KEY;
  config.endpoint = "198.51.100.7:51820";
  config.allowed_ips = {"0.0.0.0/0"};
  config.keepalive = 25;
  return config;
}

inline IpAddress ipv6(const std::array<std::uint16_t, 8>& groups) {
  IpAddress address;
  address.family = Family::ipv6;
  for (std::size_t i = 0; i < groups.size(); ++i) {
    address.bytes[2 * i] = static_cast<std::uint8_t>(groups[i] >> 8);
    address.bytes[2 * i + 1] = static_cast<std::uint8_t>(groups[i] & 0xff);
  }
  return address;
}

/// Sets PATH (or unsets it, for nullptr) for one scope and restores it afterwards.
class ScopedPath {
 public:
  explicit ScopedPath(const char* value) {
    if (const char* old = std::getenv("PATH")) {
      saved_ = old;
    }
    set(value);
  }
  ScopedPath(const ScopedPath&) = delete;
  ScopedPath& operator=(const ScopedPath&) = delete;
  ~ScopedPath() { set(saved_ ? saved_->c_str() : nullptr); }

 private:
  static void set(const char* value) {
    if (value == nullptr) {
      ::unsetenv("PATH");
    } else {
      ::setenv("PATH", value, 1);
    }
  }

  std::optional<std::string> saved_;
};

}  // namespace ferroglade::testing
