#!/usr/bin/env bash
# The real program over real WireGuard (wireguard-go where the kernel has none)
# and the real resolvconf, between two namespaces of its own. One scenario per
# function; each leaves the client as it found it.
set -euo pipefail
. "$(dirname "$0")/../../../scripts/lib/realnet.sh"
[ -x "${FERROGLADE_TUNNEL:-}" ] || realnet_skip "FERROGLADE_TUNNEL names no program (run it through ctest)"
realnet_enter "$@"
command -v resolvconf >/dev/null || realnet_skip "resolvconf is not installed"

# systemd-resolved is the host's own service: DNS goes through resolvconf here
# (before the pair, whose namespaces copy these mounts).
for dir in /usr/bin /usr/sbin; do
  if [ -e "$dir/resolvectl" ]; then realnet_overlay "$dir" && rm "$dir/resolvectl"; fi
done

# Runs the program in the client as COMMAND with standard input INPUT; fails
# unless it exits with STATUS, prints nothing on standard output and exactly
# STDERR on standard error.
expect() {
  local status=$1 stderr=$2 command=$3 input=${4:-/dev/null} rc=0 out=$REALNET_WORK/out.$BASHPID
  realnet_in client "$FERROGLADE_TUNNEL" "$command" <"$input" >"$out.1" 2>"$out.2" || rc=$?
  [ "$rc" = "$status" ] && [ ! -s "$out.1" ] && cmp -s <(printf '%s' "$stderr") "$out.2" ||
    realnet_fail "$command: status $rc, stdout '$(cat "$out.1")', stderr '$(cat "$out.2")'; expected $status, '', '$stderr'"
}

# Fails unless the client's rules, routes and links are those of SNAPSHOT.
unchanged() {
  local what=$1 now
  now=$(realnet_snapshot)
  [ "$now" = "$2" ] || realnet_fail "$what changed the client:"$'\n'"$(diff <(echo "$2") <(echo "$now"))"
}

full_tunnel() {
  # No keepalive and no ::/0 (the new link's IPv6 chatter would start it): the
  # first handshake waits for the ping, after the rules are in, and gets out
  # only if the fwmark exempts it from the tunnel's table.
  realnet_document '"0.0.0.0/0"' null 0 >"$doc"
  expect 0 '' up "$doc"
  realnet_ping_inside >/dev/null || realnet_fail "no ping through the full tunnel"
  expect 0 '' down
  unchanged "up and down of a full tunnel" "$before"
}

failed_up() {
  # The device is up and both families' rules are in when the last route fails.
  realnet_document '"::/0", "0.0.0.0/0", "10.98.0.0/24"' >"$doc"
  expect 1 $'error: ip -4 route add 10.98.0.0/24 dev ferroglade: RTNETLINK answers: File exists\n' up "$doc"
  unchanged "a failed up" "$before"
}

dns() {
  realnet_document '"10.99.0.0/24"' '"2001:0db8:0000:0000:0000:0000:0000:0053"' >"$doc"
  expect 0 '' up "$doc"
  realnet_in client grep -qx 'nameserver 2001:db8::53' /etc/resolv.conf ||
    realnet_fail "no nameserver 2001:db8::53 in resolv.conf while up:"$'\n'"$(cat /etc/resolv.conf)"
  expect 0 '' down
  ! realnet_in client grep -q 2001:db8 /etc/resolv.conf || realnet_fail "the nameserver outlived down"
  unchanged "up and down with DNS" "$before"
}

# Runs A and B at once over a tunnel that is up, three times; each run must succeed and
# the last to end must be borne out by the final state (the tunnel up, or the client as before).
together() {
  local trial order
  realnet_document '"0.0.0.0/0"' >"$doc"
  for trial in 1 2 3; do
    order=$REALNET_WORK/order && : >"$order" && expect 0 '' up "$doc"
    (expect 0 '' "$1" "$doc" && echo "$1" >>"$order") &
    (expect 0 '' "$2" "$doc" && echo "$2" >>"$order") &
    wait -n && wait -n || realnet_fail "$1 and $2 together, trial $trial"
    if [ "$(tail -n 1 "$order")" = up ]; then
      [ "$(realnet_in client ip -4 rule | grep -c '^3274[01]:') $(realnet_in client ip route show table 51821)" = \
        "2 default dev ferroglade scope link " ] || realnet_fail "$1 and $2: up ended last, yet no tunnel"
      expect 0 '' down
    fi
    unchanged "$1 and $2 together" "$before"
  done
}
up_up() { together up up; }
up_down() { together up down; }
down_down() { together down down; }

# IPv6 switched off by sysctl: with only the default off, older links keep their
# addresses and IPv6 failing stays fatal; with both off, IPv4 comes up alone.
ipv6_off() {
  local failed='ip -6 route add ::/0 dev ferroglade table 51821: Error: IPv6 is disabled on nexthop device.'
  realnet_document '"0.0.0.0/0", "::/0"' >"$doc"
  realnet_in client sysctl -qw net.ipv6.conf.default.disable_ipv6=1
  expect 1 "error: $failed"$'\n' up "$doc"
  realnet_in client sysctl -qw net.ipv6.conf.all.disable_ipv6=1
  local off
  off=$(realnet_snapshot)
  expect 0 "warning: no IPv6 on this system: $failed"$'\n' up "$doc"
  realnet_ping_inside >/dev/null || realnet_fail "no IPv4 through the tunnel with IPv6 off"
  ! realnet_in client ip -6 rule | grep '^3274[01]:' || realnet_fail "IPv6 rules with IPv6 off"
  expect 0 '' down
  unchanged "up and down with IPv6 off" "$off"
}

realnet_make_pair
doc=$REALNET_WORK/doc.json
: >"$doc" && chmod 600 "$doc" # it holds the key: up warns otherwise
realnet_inside_silent || realnet_fail "the inside address answers without a tunnel"
before=$(realnet_snapshot)
for scenario in failed_up full_tunnel dns up_up up_down down_down ipv6_off; do
  $scenario
  echo "ok: $scenario"
done
