#include "main/wireguard_device.hpp"

namespace ferroglade {

Status create_link(Host&) { return fail("not built yet"); }
Status configure_peer(Host&, const ValidatedConfig&) { return fail("not built yet"); }
Status assign_address(Host&, const ValidatedConfig&) { return fail("not built yet"); }
Status set_mtu_and_up(Host&, const ValidatedConfig&) { return fail("not built yet"); }

}  // namespace ferroglade
