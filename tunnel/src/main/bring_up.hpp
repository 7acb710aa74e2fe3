#pragma once
// The `up` handler: all-or-nothing bring-up of the tunnel.

#include <functional>

#include "linux/host.hpp"
#include "linux/result.hpp"
#include "main/tunnel_config.hpp"

namespace ferroglade {

/// Where the document comes from; the real one is read_config.
using ConfigReader = std::function<Result<TunnelConfig>()>;

/// Runs every step of `up` in order; any failure from link creation on is
/// rolled back by one teardown and its text returned unchanged.
Status bring_up(Host& host, const ConfigReader& read_document);

/// `up` on the real host with the document on standard input.
Status up_command();

}  // namespace ferroglade
