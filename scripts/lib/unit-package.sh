# shellcheck shell=bash disable=SC2016,SC2034,SC2154 # checks run later; the caller's names
# The Debian package's maintainer scripts in a fresh container, for
# scripts/verify-unit (which provides report, expect, has, run_in, is_state
# and unit): install, enable and start, upgrade, removal while active, purge.

package_scenarios() {
  local deb=$1 name rc dir=${DOC%/*} ifindex started failed_before=$failed
  container_make_root
  world_prepare
  mkdir -p "$CONTAINER_ROOT/var/cache/fgverify"
  cp "$deb" "$CONTAINER_ROOT/var/cache/fgverify/"
  name=/var/cache/fgverify/$(basename "$deb")
  container_boot

  rc=0 && run_in dpkg -i "$name" >"$CONTAINER_WORK/dpkg.log" 2>&1 || rc=$?
  expect "package install" "dpkg -i exited $rc, unit $(run_in systemctl is-enabled "$unit" 2>&1) and $(run_in systemctl show -P ActiveState "$unit"), $dir $(run_in stat -c '%a %U:%G' "$dir" 2>&1)" \
    '[ $rc = 0 ] && [ "$(run_in systemctl is-enabled "$unit")" = disabled ] && is_state inactive && [ "$(run_in stat -c "%a %U:%G" "$dir")" = "700 root:root" ]'

  world_document good >"$CONTAINER_ROOT$DOC"
  chmod 0600 "$CONTAINER_ROOT$DOC"
  rc=0 && run_in systemctl enable --now "$unit" 2>/dev/null || rc=$?
  expect "package: enable --now" "exited $rc, unit active, link and rules there" \
    '[ $rc = 0 ] && is_state active && world_tunnel_up'

  ifindex=$(run_in cat /sys/class/net/ferroglade/ifindex)
  started=$(run_in systemctl show -P ExecMainStartTimestampMonotonic "$unit")
  rc=0 && run_in dpkg -i "$name" >>"$CONTAINER_WORK/dpkg.log" 2>&1 || rc=$?
  expect "package upgrade" "dpkg -i again exited $rc, unit active and not restarted, link ifindex $ifindex -> $(run_in cat /sys/class/net/ferroglade/ifindex 2>&1)" \
    '[ $rc = 0 ] && is_state active && [ "$(run_in systemctl show -P ExecMainStartTimestampMonotonic "$unit")" = "$started" ] && [ "$(run_in cat /sys/class/net/ferroglade/ifindex)" = "$ifindex" ]'

  rc=0 && run_in apt-get remove -y -q ferroglade-tunnel >>"$CONTAINER_WORK/dpkg.log" 2>&1 || rc=$?
  expect "package removal while active" "apt-get remove exited $rc, unit $(run_in systemctl show -P ActiveState "$unit"), no link, no rules, the document kept" \
    '[ $rc = 0 ] && ! is_state active && world_tunnel_gone && run_in test -f "$DOC"'

  run_in rm "$DOC"
  rc=0 && run_in dpkg --purge ferroglade-tunnel >>"$CONTAINER_WORK/dpkg.log" 2>&1 || rc=$?
  expect "package purge" "dpkg --purge exited $rc; left: $(package_leftovers | xargs)" \
    '[ $rc = 0 ] && [ -z "$(package_leftovers)" ]'
  [ "$failed" = "$failed_before" ] || cat "$CONTAINER_WORK/dpkg.log"
  container_poweroff 60 || true
  container_discard
}

# What a purge must not leave: enable links, deb-systemd-helper state, the
# empty configuration directory.
package_leftovers() {
  # shellcheck disable=SC2016 # expanded in the container
  run_in sh -c 'find /etc/systemd/system /var/lib/systemd/deb-systemd-helper-enabled \
      /var/lib/systemd/deb-systemd-helper-masked -name "ferroglade-tunnel*" 2>/dev/null
    [ ! -e /etc/ferroglade-tunnel ] || echo /etc/ferroglade-tunnel'
}
