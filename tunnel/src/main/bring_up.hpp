#pragma once
// The `up` handler: all-or-nothing bring-up of the tunnel.

#include "linux/host.hpp"
#include "linux/result.hpp"
#include "main/tunnel_config.hpp"

namespace ferroglade {

/// The `up` command after the privileged start-up steps: every step in order, the
/// document read from the host's standard input (with a warning first when that is a
/// file other users can access); any failure from link creation on is rolled back by
/// removing the tunnel, and its text returned unchanged.
Status bring_up(Host& host);

}  // namespace ferroglade
