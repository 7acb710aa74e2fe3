#!/usr/bin/env bash
# DNS through the real resolvconf, with resolv.conf and resolvconf's state
# private to the test: the server is there while the tunnel is up, and gone
# after down.
set -euo pipefail
. "$(dirname "$0")/lib/realnet.sh"
realnet_need_binary
realnet_enter "$@"
command -v resolvconf >/dev/null || realnet_skip "resolvconf is not installed"
realnet_make_pair
doc=$REALNET_WORK/dns.json

has_server() { realnet_in client grep -qx "nameserver $1" /etc/resolv.conf; }

# The server reaches resolv.conf in its canonical form.
while read -r given shown; do
  realnet_document '"10.99.0.0/24"' "\"$given\"" >"$doc"
  realnet_expect 0 '' '' up "$doc"
  has_server "$shown" || {
    cat /etc/resolv.conf >&2
    realnet_fail "nameserver $shown missing from resolv.conf after up with dns $given"
  }
  [ -e /run/resolvconf/interfaces/tun.ferroglade ] || realnet_fail "no resolvconf record tun.ferroglade"
  realnet_ping_inside || realnet_fail "no ping through the tunnel with dns $given"
done <<'CASES'
10.8.0.1 10.8.0.1
2001:0db8:0000:0000:0000:0000:0000:0053 2001:db8::53
CASES
# The second up's clean start withdrew the first record.
! has_server 10.8.0.1 || realnet_fail "the first up's server survived the second up"

realnet_expect 0 '' '' down
! has_server 2001:db8::53 || realnet_fail "nameserver still in resolv.conf after down"
[ ! -e /run/resolvconf/interfaces/tun.ferroglade ] || realnet_fail "resolvconf record left after down"
realnet_assert_clean

# Without dns, up leaves name resolution alone.
snapshot=$(cat /etc/resolv.conf)
realnet_document '"10.99.0.0/24"' >"$doc"
realnet_expect 0 '' '' up "$doc"
[ "$(cat /etc/resolv.conf)" = "$snapshot" ] || realnet_fail "up without dns changed resolv.conf"
realnet_expect 0 '' '' down
echo "PASS: dns through resolvconf"
