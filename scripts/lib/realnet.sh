# shellcheck shell=bash
# Real WireGuard between two throwaway network namespaces, for scripts/demo and
# the real-network system test. Source it and call realnet_enter "$@" first:
# the rest of the script then runs as process 1 of fresh mount, network and PID
# namespaces with its own /run and an overlay over /etc, so whatever it starts
# dies with it and the host's own networking and files are never touched.
#
# Layout once realnet_make_pair has run:
#   client  veth-c 10.98.0.1/24, default via the peer; runs the program
#   peer    veth-p 10.98.0.2/24, endpoint 10.97.0.1:51820 on lo, WireGuard
#           device fgpeer 10.8.0.1/24, and REALNET_INSIDE_ADDR on lo, which
#           answers only through the tunnel
# The endpoint is reachable from the client only by its default route, so a
# full tunnel works only when the policy rules and the fwmark work together.

REALNET_INSIDE_ADDR=10.99.0.1
REALNET_ENDPOINT=10.97.0.1:51820
REALNET_CLIENT_ADDRESS=10.8.0.2/24
REALNET_WORK=/run/realnet
REALNET_REAL_IP=/usr/bin/ip
REALNET_LIB=$(readlink -f "${BASH_SOURCE[0]}")
# Exit status for "cannot run here": 77 for ctest; the demo sets 1.
: "${REALNET_SKIP_STATUS:=77}"
declare -A REALNET_HOLDER=()

realnet_skip() {
  echo "SKIP: $*" >&2
  exit "$REALNET_SKIP_STATUS"
}

realnet_fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Re-runs the calling script as process 1 of new mount, network and PID
# namespaces, then makes the host private to it.
realnet_enter() {
  if [ "${REALNET_ENTERED:-}" != 1 ]; then
    [ "$(id -u)" -eq 0 ] || realnet_skip "needs root (network and mount namespaces)"
    [ -c /dev/net/tun ] || realnet_skip "no /dev/net/tun"
    local tool
    for tool in unshare nsenter wg ping setsid; do
      command -v "$tool" >/dev/null || realnet_skip "$tool is not installed"
    done
    [ -x "$REALNET_REAL_IP" ] || realnet_skip "no $REALNET_REAL_IP (iproute2)"
    # --kill-child: when the runner kills this unshare, process 1 of the new
    # PID namespace dies, and with it every process of the namespace.
    REALNET_ENTERED=1 exec unshare --mount --propagation private --net --pid --fork --mount-proc --kill-child \
      bash "$(readlink -f "$0")" "$@"
  fi
  trap realnet_cleanup EXIT
  trap 'exit 130' INT TERM
  realnet_private_host
}

# Private /run (wireguard-go sockets, resolvconf state) and /etc (resolvconf
# rewrites resolv.conf on down too) and, when the kernel has no WireGuard link
# type, a wrapper ip in /usr/sbin.
realnet_private_host() {
  mount -t tmpfs -o mode=0755 realnet /run
  mkdir -p /run/wireguard /run/resolvconf "$REALNET_WORK"
  realnet_overlay /etc
  rm -f /etc/resolv.conf
  echo '# resolv.conf of a throwaway namespace' >/etc/resolv.conf
  "$REALNET_REAL_IP" link set lo up
  if "$REALNET_REAL_IP" link add fgprobe type wireguard 2>/dev/null; then
    "$REALNET_REAL_IP" link del dev fgprobe
    REALNET_KERNEL_WG=1
  else
    REALNET_KERNEL_WG=0
    command -v wireguard-go >/dev/null || realnet_skip "kernel has no WireGuard link type and wireguard-go is not installed"
    realnet_overlay /usr/sbin
    rm -f /usr/sbin/ip
    cat >/usr/sbin/ip <<WRAPPER
#!/bin/bash
# This kernel has no WireGuard link type: wireguard-go stands in for it.
[ "\$*" = "link add ferroglade type wireguard" ] || exec $REALNET_REAL_IP "\$@"
. '$REALNET_LIB'
realnet_wg_link
WRAPPER
    chmod 0755 /usr/sbin/ip
  fi
}

# Makes directory DIR writable in this mount namespace only, once.
realnet_overlay() {
  local layers=$REALNET_WORK/overlay$1
  [ ! -d "$layers" ] || return 0
  mkdir -p "$layers/upper" "$layers/work"
  mount -t overlay -o "lowerdir=$1,upperdir=$layers/upper,workdir=$layers/work" realnet "$1"
}

# The wrapper's "ip link add ferroglade type wireguard".
realnet_wg_link() {
  if [ -e /sys/class/net/ferroglade ]; then
    echo "RTNETLINK answers: File exists" >&2
    exit 2
  fi
  # The wireguard-go of a link deleted just before may still hold the socket, and a
  # second one gives up on it at once: wait for the socket, and try again after a give-up.
  local _
  for _ in $(seq 5); do
    for _ in $(seq 100); do
      [ -e /run/wireguard/ferroglade.sock ] || wg show ferroglade >/dev/null 2>&1 || break
      sleep 0.05
    done
    realnet_start_wg ferroglade && return 0
  done
  echo "wireguard-go did not bring up ferroglade" >&2
  exit 2
}

# Starts wireguard-go for device DEV here and returns once wg can configure it:
# the socket file appears before wireguard-go accepts connections on it.
realnet_start_wg() {
  local dev=$1 pid _
  setsid wireguard-go -f "$dev" </dev/null >>"$REALNET_WORK/wireguard-go-$dev.log" 2>&1 &
  pid=$!
  # Generous, for a loaded machine: a slow start is not what the tests are about.
  for _ in $(seq 200); do
    if wg show "$dev" >/dev/null 2>&1; then return 0; fi
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.05
  done
  kill "$pid"
  return 1
}

# Starts a holder for namespace NAME: process 1 of its own network, PID and
# mount namespaces with its own sysfs and wireguard socket directory.
realnet_start_ns() {
  local name=$1 outer inner=""
  unshare --net --pid --fork --mount-proc --kill-child \
    sh -c 'mount -t sysfs sysfs /sys && mount -t tmpfs tmpfs /run/wireguard && exec sleep infinity' \
    2>>"$REALNET_WORK/holder-$name.log" &
  outer=$!
  for _ in $(seq 100); do
    inner=$(tr -d ' ' </proc/"$outer"/task/"$outer"/children 2>/dev/null)
    if [ -n "$inner" ] && [ "$(readlink /proc/"$inner"/exe)" = "$(readlink -f "$(command -v sleep)")" ]; then
      break
    fi
    inner=""
    sleep 0.02
  done
  [ -n "$inner" ] || realnet_fail "namespace $name did not start"
  REALNET_HOLDER[$name]=$inner
  realnet_in "$name" "$REALNET_REAL_IP" link set lo up
  # No duplicate address detection: link-local addresses that leave the
  # tentative state mid-run would spoil before-and-after comparisons.
  realnet_in "$name" sh -c 'echo 0 >/proc/sys/net/ipv6/conf/default/accept_dad' 2>/dev/null || true
}

# Runs a command inside namespace NAME.
realnet_in() {
  local name=$1
  shift
  nsenter --target "${REALNET_HOLDER[$name]}" --net --pid --mount -- "$@"
}

realnet_cleanup() {
  local name
  for name in "${!REALNET_HOLDER[@]}"; do
    # Process 1 of the namespace: the kernel ends the rest (wireguard-go too).
    kill -KILL "${REALNET_HOLDER[$name]}" 2>/dev/null
  done
  REALNET_HOLDER=()
}

# Builds the client and peer namespaces described at the top and sets
# REALNET_CLIENT_KEY (the client's private key) and REALNET_PEER_PUB.
realnet_make_pair() {
  local ip=$REALNET_REAL_IP peer_key client_pub
  realnet_start_ns client
  realnet_start_ns peer
  # Only the network namespace: the peer's PID is this namespace's number.
  nsenter --target "${REALNET_HOLDER[client]}" --net -- "$ip" link add veth-c type veth peer name veth-p \
    netns "${REALNET_HOLDER[peer]}"
  realnet_in client "$ip" address add 10.98.0.1/24 dev veth-c
  realnet_in client "$ip" link set veth-c up
  realnet_in peer "$ip" address add 10.98.0.2/24 dev veth-p
  realnet_in peer "$ip" link set veth-p up
  realnet_in client "$ip" route add default via 10.98.0.2
  realnet_in peer "$ip" address add "${REALNET_ENDPOINT%:*}"/32 dev lo
  realnet_in peer "$ip" address add "$REALNET_INSIDE_ADDR"/32 dev lo

  REALNET_CLIENT_KEY=$(wg genkey)
  client_pub=$(printf '%s\n' "$REALNET_CLIENT_KEY" | wg pubkey)
  peer_key=$(wg genkey)
  REALNET_PEER_PUB=$(printf '%s\n' "$peer_key" | wg pubkey)

  if [ "$REALNET_KERNEL_WG" = 1 ]; then
    realnet_in peer "$ip" link add fgpeer type wireguard
  else
    # shellcheck disable=SC2016 # expanded by the inner shell
    realnet_in peer bash -c '. "$1" && realnet_start_wg fgpeer' realnet "$REALNET_LIB" ||
      realnet_fail "wireguard-go did not bring up fgpeer"
  fi
  printf '%s\n' "$peer_key" | realnet_in peer wg set fgpeer private-key /dev/stdin listen-port "${REALNET_ENDPOINT##*:}" \
    peer "$client_pub" allowed-ips "${REALNET_CLIENT_ADDRESS%/*}"/32
  realnet_in peer "$ip" address add 10.8.0.1/24 dev fgpeer
  realnet_in peer "$ip" link set dev fgpeer mtu 1420 up
  # The inside address answers only into the tunnel: a ping that reaches it
  # over the bare veth gets no reply.
  realnet_in peer "$ip" route add 10.8.0.0/24 dev fgpeer table 100
  realnet_in peer "$ip" route add unreachable default table 100
  realnet_in peer "$ip" rule add from "$REALNET_INSIDE_ADDR" table 100 pref 100
}

# Prints an up document; ALLOWED is a JSON array body, DNS a JSON value.
realnet_document() {
  local allowed=$1 dns=${2:-null} keepalive=${3:-25}
  cat <<DOC
{
  "private_key": "$REALNET_CLIENT_KEY",
  "address": "$REALNET_CLIENT_ADDRESS",
  "dns": $dns,
  "mtu": 1420,
  "peer_public_key": "$REALNET_PEER_PUB",
  "endpoint": "$REALNET_ENDPOINT",
  "allowed_ips": [$allowed],
  "keepalive": $keepalive
}
DOC
}

# A bounded ping from the client to the inside address; true on any reply.
realnet_ping_inside() {
  realnet_in client ping -n -c 3 -i 0.2 -W 2 "$REALNET_INSIDE_ADDR"
}

# True when the inside address does not answer within a second.
realnet_inside_silent() {
  ! realnet_in client ping -n -q -c 1 -W 1 "$REALNET_INSIDE_ADDR" >/dev/null 2>&1
}

# The client's policy rules, routes of every table, links and addresses, of
# both families: all that a tunnel adds and down must take away again.
realnet_snapshot() {
  # shellcheck disable=SC2016 # expanded by the inner shell
  realnet_in client sh -c 'for f in -4 -6; do "$1" $f rule; "$1" $f route show table all; done; "$1" address' \
    realnet "$REALNET_REAL_IP"
}
