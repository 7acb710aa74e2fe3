#!/usr/bin/env bash
# A split tunnel over real WireGuard: a main-table route, no policy rules, and
# down restores the routing state exactly.
set -euo pipefail
. "$(dirname "$0")/lib/realnet.sh"
realnet_need_binary
realnet_enter "$@"
realnet_make_pair
doc=$REALNET_WORK/split.json
realnet_document '"10.99.0.7/24"' >"$doc"
before=$(realnet_snapshot)
realnet_inside_silent || realnet_fail "the inside address answered without a tunnel"

realnet_expect 0 '' '' up "$doc"
realnet_expect 0 $'up\n' '' status
realnet_in client ip -4 route show dev ferroglade | grep -q '^10\.99\.0\.0/24 ' ||
  realnet_fail "no main-table route 10.99.0.0/24 over ferroglade"
! realnet_in client ip -4 rule | grep -E '^3274[01]:' || realnet_fail "a split tunnel installed policy rules"
[ -z "$(realnet_in client ip -4 route show table 51821 2>/dev/null)" ] || realnet_fail "a split tunnel used table 51821"
[ "$(realnet_in client wg show ferroglade fwmark)" = off ] || realnet_fail "a split tunnel set a fwmark"
[ "$(realnet_in client wg show ferroglade allowed-ips | cut -f2)" = 10.99.0.0/24 ] ||
  realnet_fail "allowed-ips not given to wg as 10.99.0.0/24"
realnet_ping_inside || realnet_fail "no ping through the split tunnel"
realnet_assert_handshake

realnet_expect 0 '' '' down
realnet_assert_clean
[ "$(realnet_snapshot)" = "$before" ] || {
  diff <(printf '%s\n' "$before") <(realnet_snapshot) >&2 || true
  realnet_fail "down did not restore the routing state"
}
echo "PASS: split tunnel"
