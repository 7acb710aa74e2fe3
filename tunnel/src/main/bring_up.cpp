#include "main/bring_up.hpp"

#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "main/dns_backends.hpp"
#include "main/routing.hpp"
#include "main/teardown.hpp"
#include "main/tunnel_names.hpp"
#include "main/validation.hpp"
#include "main/wireguard_device.hpp"

namespace ferroglade {
namespace {

// Four octal digits, as chmod takes them. The mask repeats the host's: it bounds the text
// for the compiler, which otherwise warns that the buffer may be too short.
std::string mode_text(unsigned permissions) {
  std::array<char, 8> text{};
  (void)std::snprintf(text.data(), text.size(), "%04o", permissions & 07777U);
  return text.data();
}

// The document holds the private key; a file that others can read gives it away.
void warn_if_readable_by_others(Host& host) {
  const std::optional<InputFile> file = host.input_file();
  if (!file || (file->permissions & 077U) == 0) {
    return;
  }
  host.write_error("warning: " + file->path.value_or("standard input") + " is accessible to other users (mode " +
                   mode_text(file->permissions) + "); it holds the private key\n");
}

// The document, with its copy of the private key, is dropped on return.
Result<ValidatedConfig> read_and_validate(Host& host) {
  Result<TunnelConfig> document = read_config(host);
  if (!document.ok()) {
    return std::move(document).error();
  }
  return validate_config(document.value());
}

std::optional<std::string> dns_server_text(const ValidatedConfig& config) {
  if (!config.dns.has_value()) {
    return std::nullopt;
  }
  return render_address(*config.dns);
}

Status configure_peer_once(Host& host, ValidatedConfig& config) {
  Status peered = configure_peer(host, config);
  // wg holds the key from here on; nothing later needs our copy.
  config.private_key.clear();
  return peered;
}

// Everything from link creation on; the first failure stops it.
Status build_tunnel(Host& host, ValidatedConfig& config) {
  if (Status step = create_link(host); !step.ok()) {
    return step;
  }
  if (Status step = configure_peer_once(host, config); !step.ok()) {
    return step;
  }
  if (Status step = assign_address(host, config); !step.ok()) {
    return step;
  }
  if (Status step = set_mtu_and_up(host, config); !step.ok()) {
    return step;
  }
  if (Status step = install_routes(host, config.allowed_ips); !step.ok()) {
    return step;
  }
  return set_up_dns(host, dns_server_text(config));
}

// A failed `up` leaves the host as `down` would; the step's own text is what
// the caller needs, not whatever the cleanup ran into.
Status rolled_back_on_failure(Host& host, Status outcome) {
  if (!outcome.ok()) {
    (void)remove_tunnel(host);
  }
  return outcome;
}

}  // namespace

Status bring_up(Host& host) {
  warn_if_readable_by_others(host);
  Result<ValidatedConfig> config = read_and_validate(host);
  if (!config.ok()) {
    return std::move(config).error();
  }
  if (!host.tool_on_path("wg")) {
    return fail("wg_missing");
  }
  // Clean start: clears what an earlier `up` left; anything it could not
  // remove makes a later step fail with a clearer text.
  (void)remove_tunnel(host);
  return rolled_back_on_failure(host, build_tunnel(host, config.value()));
}

}  // namespace ferroglade
