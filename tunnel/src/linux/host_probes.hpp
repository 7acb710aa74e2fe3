#pragma once
// Yes-or-no questions about the host, answered from /proc, /sys and the file
// system. None starts a tool, prints or fails: what prevents an answer is
// folded into a fixed value.

#include <string_view>

namespace ferroglade {

/// The tunnel interface's fixed name.
inline constexpr std::string_view INTERFACE_NAME = "ferroglade";

/// Effective user ID is 0 (third field of the first "Uid:" line of
/// /proc/self/status). False when that cannot be read.
[[nodiscard]] bool is_root();

/// Not in process 1's network namespace, or that cannot be determined.
[[nodiscard]] bool in_foreign_netns();

/// Some PATH entry holds a regular file named `name` (permissions not checked).
[[nodiscard]] bool tool_on_path(std::string_view name);

/// /sys/class/net/ferroglade can be examined.
[[nodiscard]] bool link_exists();

/// /proc/net/if_inet6 exists and lists at least one address (or cannot be read).
[[nodiscard]] bool ipv6_available();

}  // namespace ferroglade
