#pragma once
// Removing the tunnel: the `down` command, and the clean start and rollback of `up`.

#include "linux/host.hpp"
#include "linux/result.hpp"

namespace ferroglade {

/// Removes the policy rules, the interface (when present) and the resolvconf record.
/// Error: the text of the failed link deletion, which leaves the record in place.
Status remove_tunnel(Host& host);

}  // namespace ferroglade
