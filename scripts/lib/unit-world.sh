# shellcheck shell=bash disable=SC2034 # names for the script that sources it
# What scripts/verify-unit puts into and reads out of the container of
# scripts/lib/container.sh: the tunnel documents, a WireGuard link for a
# kernel without one, a resolvconf that hangs, systemd-resolved, and views of
# the tunnel and the journal.

DOC=/etc/ferroglade-tunnel/tunnel.json
SRC_VALID_MARK=/proc/sys/net/ipv4/conf/all/src_valid_mark
WORLD_KEY=$(wg genkey)
PEER_A=$(wg genkey | wg pubkey)
PEER_B=$(wg genkey | wg pubkey)

# Prints the document good, changed (another MTU and peer) or bad (valid JSON
# the program rejects). Only the container's lo exists, so the endpoint is
# never reached.
world_document() {
  local mtu=1420 peer=$PEER_A keepalive=25
  case $1 in
    changed) mtu=1380 peer=$PEER_B ;;
    bad) keepalive=70000 ;;
  esac
  cat <<EOF
{"private_key": "$WORLD_KEY", "address": "10.8.0.2/24", "dns": "10.8.0.1", "mtu": $mtu,
 "peer_public_key": "$peer", "endpoint": "198.51.100.7:51820",
 "allowed_ips": ["0.0.0.0/0", "::/0"], "keepalive": $keepalive}
EOF
}

# The kernel here has no WireGuard link type. An ip wrapper has a unit of its
# own start wireguard-go for "ip link add ferroglade type wireguard", so that
# the link lives outside the product unit's sandbox and cgroup, as a kernel
# link would. It writes every ip command line to the journal.
world_prepare() {
  local r=$CONTAINER_ROOT
  cat >"$r/etc/systemd/system/fgverify-wireguard-go@.service" <<'EOF'
[Unit]
Description=wireguard-go standing in for a kernel WireGuard link %i
# Stopped after the tunnel's unit at shutdown, as a kernel link would outlive it.
Before=ferroglade-tunnel.service
[Service]
ExecStart=/usr/bin/wireguard-go -f %i
EOF
  rm -f "$r/usr/sbin/ip"
  cat >"$r/usr/sbin/ip" <<'EOF'
#!/bin/bash
# verify-unit: wireguard-go stands in for the kernel's WireGuard link.
systemd-cat -t fgverify-ip printf '%s\n' "ip $*"
[ "$*" = "link add ferroglade type wireguard" ] || exec /usr/bin/ip "$@"
if [ -e /sys/class/net/ferroglade ]; then
  echo "RTNETLINK answers: File exists" >&2
  exit 2
fi
helper=fgverify-wireguard-go@ferroglade.service
# The wireguard-go of a link just deleted may still be on its way out.
for _ in $(seq 100); do
  systemctl -q is-active "$helper" || break
  sleep 0.05
done
systemctl start "$helper" || exit 2
for _ in $(seq 200); do
  wg show ferroglade >/dev/null 2>&1 && exit 0
  sleep 0.05
done
echo "wireguard-go did not bring up ferroglade" >&2
exit 2
EOF
  chmod 0755 "$r/usr/sbin/ip"
}

# A resolvconf whose -a never returns, as with a stuck hook, and a drop-in
# that shortens the unit's start time-out to SECONDS.
world_hang_resolvconf() {
  local r=$CONTAINER_ROOT
  mv "$r/usr/sbin/resolvconf" "$r/usr/sbin/resolvconf.real"
  cat >"$r/usr/sbin/resolvconf" <<'EOF'
#!/bin/bash
# verify-unit: a stuck hook.
[ "$1" = -a ] || exec /usr/sbin/resolvconf.real "$@"
systemd-cat -t fgverify-resolvconf printf '%s\n' "resolvconf $* hangs"
exec sleep infinity
EOF
  chmod 0755 "$r/usr/sbin/resolvconf"
  mkdir -p "$r/etc/systemd/system/ferroglade-tunnel.service.d"
  printf '[Service]\nTimeoutStartSec=%s\n' "$1" >"$r/etc/systemd/system/ferroglade-tunnel.service.d/hang.conf"
  container_run systemctl daemon-reload
}

world_unhang_resolvconf() {
  local r=$CONTAINER_ROOT
  mv "$r/usr/sbin/resolvconf.real" "$r/usr/sbin/resolvconf"
  rm -r "$r/etc/systemd/system/ferroglade-tunnel.service.d"
  container_run systemctl daemon-reload
}

# Installs systemd-resolved in the container (in place of openresolv, which it
# conflicts with) from the package matching the host's systemd, fetched once.
world_install_resolved() {
  local version cache=$CONTAINER_WORK/debs
  version=$(dpkg-query -W -f '${Version}' systemd)
  mkdir -p "$cache"
  if ! ls "$cache"/systemd-resolved_*.deb >/dev/null 2>&1; then
    (cd "$cache" && apt-get download -q "systemd-resolved=$version" >/dev/null 2>&1) || return 1
  fi
  mkdir -p "$CONTAINER_ROOT/var/cache/fgverify"
  cp "$cache"/systemd-resolved_*.deb "$CONTAINER_ROOT/var/cache/fgverify/"
  container_run dpkg --purge openresolv >"$CONTAINER_WORK/resolved.log" 2>&1
  container_run sh -c 'dpkg -i /var/cache/fgverify/systemd-resolved_*.deb' >>"$CONTAINER_WORK/resolved.log" 2>&1 || {
    cat "$CONTAINER_WORK/resolved.log" >&2
    return 1
  }
  # dbus-daemon started before the package brought its bus policy.
  container_run systemctl reload dbus.service
  container_run systemctl restart systemd-resolved.service
  local _
  for _ in $(seq 50); do
    container_run resolvectl status >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  return 1
}

# What a reload must leave alone: the link, its address, routes, rules and peer.
world_snapshot() {
  # shellcheck disable=SC2016 # expanded in the container
  container_run sh -c 'ip=/usr/bin/ip
    $ip -o link show dev ferroglade; $ip -o -4 address show dev ferroglade
    $ip -4 route show table all dev ferroglade; $ip -6 route show table all dev ferroglade
    $ip -4 rule; $ip -6 rule
    for field in peers endpoints allowed-ips fwmark persistent-keepalive; do wg show ferroglade $field; done' 2>&1
}

world_tunnel_up() {
  container_run test -e /sys/class/net/ferroglade && [ "$(world_rule_count)" = 4 ]
}

world_tunnel_gone() {
  ! container_run test -e /sys/class/net/ferroglade && [ "$(world_rule_count)" = 0 ]
}

world_link_state() {
  if container_run test -e /sys/class/net/ferroglade; then echo "yes, $(world_rule_count) rules"; else echo no; fi
}

# The tunnel's policy rules of both families.
world_rule_count() {
  local rules
  rules=$(container_run sh -c '/usr/bin/ip -4 rule; /usr/bin/ip -6 rule')
  grep -cE '^3274[01]:' <<<"$rules" || true
}

world_cursor() {
  container_run journalctl -q -n 0 --show-cursor | sed -n 's/^-- cursor: //p'
}

# The unit's journal after CURSOR (from the start when empty), message texts.
world_journal_since() {
  local _ args=()
  [ -z "$1" ] || args=(--after-cursor "$1")
  container_run journalctl -q --sync 2>/dev/null || true
  container_run journalctl -q -o cat -u ferroglade-tunnel.service "${args[@]}"
}

# After poweroff: the unit's stop and the ip command lines from then on, from
# the container's journal on disk.
world_shutdown_trace() {
  local journal=$CONTAINER_ROOT/var/log/journal since
  since=$(journalctl -D "$journal" -q -o short-unix -u ferroglade-tunnel.service -g '^Stopping ' | tail -1 | cut -d' ' -f1)
  [ -n "$since" ] || return 0
  journalctl -D "$journal" -q -o cat -t fgverify-ip --since "@$since"
}

# Waits up to a minute for the unit to reach one of the states given.
world_wait_state() {
  local _ state
  for _ in $(seq 600); do
    state=$(container_run systemctl show -P ActiveState ferroglade-tunnel.service)
    [[ " $* " == *" $state "* ]] && return 0
    sleep 0.1
  done
  return 1
}
