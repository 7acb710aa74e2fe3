#pragma once
// Pointing the host's name resolution at the tunnel, and withdrawing it.

#include <optional>
#include <string>

#include "linux/host.hpp"
#include "linux/result.hpp"

namespace ferroglade {

/// The last step of `up`. `server` is the DNS server already rendered as text,
/// or no value when the document had no dns. Absent: nothing happens. In a foreign
/// network namespace: one warning line and success. Otherwise systemd-resolved when
/// resolvectl is present and `resolvectl status` succeeds, else resolvconf when present,
/// else "dns: neither systemd-resolved nor resolvconf is available".
Status set_up_dns(Host& host, const std::optional<std::string>& server);

/// Withdraws the tunnel's resolvconf record when resolvconf is present and the process
/// shares process 1's network namespace. Cannot fail; prints nothing.
void remove_dns(Host& host);

}  // namespace ferroglade
