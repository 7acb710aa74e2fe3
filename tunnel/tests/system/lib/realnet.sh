# shellcheck shell=bash
# Real WireGuard between two throwaway network namespaces, for the system
# tests and scripts/demo. Source it, call realnet_enter "$@" first: the rest of
# the script then runs as process 1 of fresh mount, network and PID namespaces,
# so whatever it starts dies with it and the host's own networking and files
# are never touched.
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

declare -A REALNET_HOLDER=()

realnet_log() { printf '%s\n' "$@" >&2; }

# Exit status for "cannot run here": 77 for ctest; the demo sets it to 1.
: "${REALNET_SKIP_STATUS:=77}"

realnet_skip() {
  echo "SKIP: $*" >&2
  exit "$REALNET_SKIP_STATUS"
}

realnet_fail() {
  echo "FAIL: $*" >&2
  exit 1
}

realnet_require_tools() {
  [ "$(id -u)" -eq 0 ] || realnet_skip "needs root (network and mount namespaces)"
  [ -c /dev/net/tun ] || realnet_skip "no /dev/net/tun"
  local tool
  for tool in unshare nsenter wg ping setsid; do
    command -v "$tool" >/dev/null || realnet_skip "$tool is not installed"
  done
  [ -x "$REALNET_REAL_IP" ] || realnet_skip "no $REALNET_REAL_IP (iproute2)"
}

# Re-runs the calling script as process 1 of new mount, network and PID
# namespaces. --kill-child ends that process, and with it every process of
# the namespace, when the test runner kills the outer unshare.
realnet_enter() {
  if [ "${REALNET_ENTERED:-}" != 1 ]; then
    realnet_require_tools
    REALNET_ENTERED=1 exec unshare --mount --propagation private --net --pid --fork --mount-proc --kill-child \
      bash "$0" "$@"
  fi
  trap realnet_cleanup EXIT
  trap 'exit 130' INT TERM
  realnet_private_host
}

# Private /run (wireguard-go sockets, resolvconf state), an overlay over /etc
# (resolv.conf and resolvconf's backups land on the tmpfs) and, when the
# kernel has no WireGuard link type, a wrapper `ip` in an overlay over /usr/sbin.
realnet_private_host() {
  mount -t tmpfs -o mode=0755 realnet /run
  mkdir -p /run/wireguard /run/resolvconf "$REALNET_WORK"/etc-upper "$REALNET_WORK"/etc-work
  mount -t overlay -o lowerdir=/etc,upperdir="$REALNET_WORK"/etc-upper,workdir="$REALNET_WORK"/etc-work \
    realnet-etc /etc
  rm -f /etc/resolv.conf
  printf '# resolv.conf of a throwaway test namespace\n' >/etc/resolv.conf
  realnet_hide_resolvectl
  "$REALNET_REAL_IP" link set lo up
  if "$REALNET_REAL_IP" link add fgprobe type wireguard 2>/dev/null; then
    "$REALNET_REAL_IP" link del dev fgprobe
    REALNET_KERNEL_WG=1
  else
    REALNET_KERNEL_WG=0
    command -v wireguard-go >/dev/null || realnet_skip "kernel has no WireGuard link type and wireguard-go is not installed"
    realnet_install_ip_wrapper
  fi
}

# systemd-resolved is the host's own service: keep the program away from it, so
# that DNS always goes through resolvconf and the private resolv.conf.
realnet_hide_resolvectl() {
  local dir
  for dir in /usr/bin /usr/sbin; do
    [ -e "$dir/resolvectl" ] || continue
    mkdir -p "$REALNET_WORK$dir-upper" "$REALNET_WORK$dir-work"
    mount -t overlay -o "lowerdir=$dir,upperdir=$REALNET_WORK$dir-upper,workdir=$REALNET_WORK$dir-work" \
      "realnet-${dir##*/}" "$dir"
    rm -f "$dir/resolvectl"
  done
}

realnet_install_ip_wrapper() {
  if ! findmnt -n /usr/sbin >/dev/null; then
    mkdir -p "$REALNET_WORK"/usr/sbin-upper "$REALNET_WORK"/usr/sbin-work
    mount -t overlay -o lowerdir=/usr/sbin,upperdir="$REALNET_WORK"/usr/sbin-upper,workdir="$REALNET_WORK"/usr/sbin-work \
      realnet-sbin /usr/sbin
  fi
  rm -f /usr/sbin/ip
  cat >/usr/sbin/ip <<EOF
#!/bin/bash
# Stands in for "ip link add ferroglade type wireguard" on a kernel without
# the link type: starts the userspace device and returns once wg can reach it.
if [ "\$*" != "link add ferroglade type wireguard" ]; then
  exec $REALNET_REAL_IP "\$@"
fi
if [ -e /sys/class/net/ferroglade ]; then
  echo "RTNETLINK answers: File exists" >&2
  exit 2
fi
# A device deleted just before leaves its socket until wireguard-go has gone.
for _ in \$(seq 40); do
  [ -S /run/wireguard/ferroglade.sock ] || break
  sleep 0.05
done
rm -f /run/wireguard/ferroglade.sock
setsid wireguard-go -f ferroglade </dev/null >>$REALNET_WORK/wireguard-go.log 2>&1 &
pid=\$!
for _ in \$(seq 100); do
  if [ -e /sys/class/net/ferroglade ] && [ -S /run/wireguard/ferroglade.sock ]; then
    exit 0
  fi
  kill -0 "\$pid" 2>/dev/null || break
  sleep 0.05
done
kill "\$pid" 2>/dev/null
echo "wireguard-go did not bring up ferroglade" >&2
exit 2
EOF
  chmod 0755 /usr/sbin/ip
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
  # tentative state mid-test would spoil before-and-after comparisons.
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

# Adds WireGuard device DEV in namespace NAME: a kernel link where the kernel
# has one, wireguard-go otherwise.
realnet_add_wg_device() {
  local name=$1 dev=$2
  if [ "$REALNET_KERNEL_WG" = 1 ]; then
    realnet_in "$name" "$REALNET_REAL_IP" link add "$dev" type wireguard
    return
  fi
  realnet_in "$name" setsid wireguard-go -f "$dev" </dev/null >>"$REALNET_WORK/wireguard-go-$dev.log" 2>&1 &
  for _ in $(seq 100); do
    if realnet_in "$name" test -S /run/wireguard/"$dev".sock -a -e /sys/class/net/"$dev"; then
      return
    fi
    sleep 0.05
  done
  realnet_fail "wireguard-go did not bring up $dev in $name"
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

  realnet_add_wg_device peer fgpeer
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
  cat <<EOF
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
EOF
}

# One bounded ping from the client to the inside address; true on any reply.
realnet_ping_inside() {
  realnet_in client ping -n -q -c 3 -i 0.2 -W 2 "$REALNET_INSIDE_ADDR" >/dev/null 2>&1
}

# True when the inside address does not answer within a second.
realnet_inside_silent() {
  ! realnet_in client ping -n -q -c 1 -W 1 "$REALNET_INSIDE_ADDR" >/dev/null 2>&1
}

# The client's routing state, to compare before and after.
realnet_snapshot() {
  local ip=$REALNET_REAL_IP
  realnet_in client sh -c "$ip -4 rule; $ip -6 rule; $ip -4 route show table all; $ip -6 route show table all;
    $ip -d link; $ip address"
}

# True when no trace of the tunnel is left in the client.
realnet_assert_clean() {
  local ip=$REALNET_REAL_IP
  if realnet_in client test -e /sys/class/net/ferroglade; then
    realnet_fail "interface ferroglade is still there"
  fi
  if realnet_in client "$ip" -4 rule | grep -E '^3274[01]:'; then realnet_fail "IPv4 rule left at 32740/32741"; fi
  if realnet_in client "$ip" -6 rule | grep -E '^3274[01]:'; then realnet_fail "IPv6 rule left at 32740/32741"; fi
  # ip complains when the table does not exist at all, which is fine here.
  if [ -n "$(realnet_in client "$ip" -4 route show table 51821 2>/dev/null)" ]; then
    realnet_fail "routes left in table 51821"
  fi
  if [ -n "$(realnet_in client "$ip" -6 route show table 51821 2>/dev/null)" ]; then
    realnet_fail "IPv6 routes left in table 51821"
  fi
}

# Fails unless the client's ferroglade has had a handshake with the peer.
realnet_assert_handshake() {
  local stamp
  stamp=$(realnet_in client wg show ferroglade latest-handshakes | awk '{print $2}')
  [[ "$stamp" =~ ^[1-9][0-9]*$ ]] || realnet_fail "no handshake on ferroglade (latest-handshakes: '$stamp')"
}

# Sets FERROGLADE_TUNNEL from the environment or the default build, or skips.
realnet_need_binary() {
  : "${FERROGLADE_TUNNEL:=${FERROGLADE_BUILD_DIR:-build/default}/tunnel/src/main/ferroglade-tunnel}"
  [ -x "$FERROGLADE_TUNNEL" ] || realnet_skip "no built program at $FERROGLADE_TUNNEL"
  FERROGLADE_TUNNEL=$(readlink -f "$FERROGLADE_TUNNEL")
  export FERROGLADE_TUNNEL
}

# Runs the program in the client with COMMAND and standard input from INPUT
# (default: none), then fails unless the exit status, standard output and
# standard error are exactly STATUS, STDOUT and STDERR (texts with their line
# feeds).
realnet_expect() {
  local status=$1 stdout=$2 stderr=$3 command=$4 input=${5:-/dev/null} rc=0
  realnet_in client "$FERROGLADE_TUNNEL" "$command" <"$input" >"$REALNET_WORK/stdout" 2>"$REALNET_WORK/stderr" || rc=$?
  if [ "$rc" != "$status" ] || ! cmp -s <(printf '%s' "$stdout") "$REALNET_WORK/stdout" ||
    ! cmp -s <(printf '%s' "$stderr") "$REALNET_WORK/stderr"; then
    realnet_log "'$command' gave status $rc, stdout:" "$(cat -A "$REALNET_WORK/stdout")" \
      "stderr:" "$(cat -A "$REALNET_WORK/stderr")"
    realnet_fail "'$command': expected status $status, stdout '$stdout', stderr '$stderr'"
  fi
}
