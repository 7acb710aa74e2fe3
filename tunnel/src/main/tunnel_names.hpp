#pragma once
// The tunnel's own names and numbers: the same in every run, for every command.

#include <string_view>

namespace ferroglade {

/// The WireGuard interface, in every ip, wg and resolvectl command.
inline constexpr std::string_view INTERFACE_NAME = "ferroglade";
/// The tunnel's record with resolvconf.
inline constexpr std::string_view RESOLVCONF_RECORD = "tun.ferroglade";

/// The routing table of the tunnel's default routes, and the mark WireGuard puts on its
/// own packets so that the tunnel rule lets them leave by the ordinary routes.
inline constexpr std::string_view ROUTE_TABLE = "51821";
inline constexpr std::string_view FWMARK = "51821";
/// Packets without the mark use ROUTE_TABLE; the main-table rule, one lower and so
/// consulted first, keeps the host's more specific routes working.
inline constexpr std::string_view RULE_PREF_TUNNEL = "32741";
inline constexpr std::string_view RULE_PREF_MAIN = "32740";
inline constexpr std::string_view SRC_VALID_MARK_PATH = "/proc/sys/net/ipv4/conf/all/src_valid_mark";

/// Held by up and down so that they never overlap; directly under root-only /run.
inline constexpr std::string_view RUN_LOCK_PATH = "/run/ferroglade-tunnel.lock";

}  // namespace ferroglade
