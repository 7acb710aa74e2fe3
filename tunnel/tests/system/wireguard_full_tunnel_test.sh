#!/usr/bin/env bash
# A full tunnel over real WireGuard: traffic to an address only the peer has
# goes through the tunnel, and down leaves nothing behind.
set -euo pipefail
. "$(dirname "$0")/lib/realnet.sh"
realnet_need_binary
realnet_enter "$@"
realnet_make_pair
doc=$REALNET_WORK/full.json
# Without keepalive the first handshake waits for the ping, after the rules
# are in place, so it gets through only if the fwmark keeps WireGuard's own
# packets out of the tunnel.
realnet_document '"0.0.0.0/0"' null 0 >"$doc"

realnet_inside_silent || realnet_fail "the inside address answered without a tunnel"
realnet_expect 0 $'down\n' '' status

realnet_expect 0 '' '' up "$doc"
realnet_expect 0 $'up\n' '' status
realnet_ping_inside || realnet_fail "no ping through the full tunnel"
realnet_assert_handshake
[ "$(realnet_in client wg show ferroglade fwmark)" = 0xca6d ] || realnet_fail "fwmark 51821 not set on the device"
[ "$(realnet_in client cat /proc/sys/net/ipv4/conf/all/src_valid_mark)" = 1 ] || realnet_fail "src_valid_mark not set"

# Again over the running tunnel: the clean start leaves exactly one of each.
realnet_document '"0.0.0.0/0"' >"$doc"
realnet_expect 0 '' '' up "$doc"
rules=$(realnet_in client ip -4 rule | grep -cE '^3274[01]:')
[ "$rules" = 2 ] || realnet_fail "expected 2 tunnel rules after a second up, found $rules"
table=$(realnet_in client ip -4 route show table 51821)
[[ "$table" =~ ^"default dev ferroglade scope link"\ *$ ]] ||
  realnet_fail "table 51821 is not just the tunnel's default route: $table"
realnet_ping_inside || realnet_fail "no ping after a second up"

realnet_expect 0 '' '' down
realnet_assert_clean
realnet_expect 0 $'down\n' '' status
realnet_inside_silent || realnet_fail "the inside address still answers after down"
realnet_expect 0 '' '' down
echo "PASS: full tunnel"
