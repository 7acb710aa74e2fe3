#!/usr/bin/env bash
# The fake host itself: the other system tests are only as good as what it hides
# and records.
source "$(dirname "$0")/lib/fakehost.sh"

real_tools_hidden() {
  fh_tool wg absent
  local t
  for t in wg resolvconf; do
    [[ ! -e /usr/bin/$t && ! -e /usr/sbin/$t && ! -e /bin/$t && ! -e /sbin/$t ]] ||
      fh__fail "$t still visible"
  done
  PATH=/usr/sbin:/usr/bin:/sbin:/bin
  (exec wg 2>/dev/null)
  expect_eq "exec of a hidden tool" 127 "$?"
  expect_eq "ip found" /usr/sbin/ip "$(type -P ip)"
}

fake_records_a_run() {
  printf 'key bytes\n' | /usr/sbin/wg set 'a b' '' 7>/dev/null
  expect_log $'wg set \'a b\' \'\'\n'
  local c
  c=$(fh_call wg 'set a b *')
  expect_eq argv "$(printf 'wg\0set\0a b\0\0' | od -c)" "$(od -c <"$c/argv")"
  expect_file_eq stdin "$c/stdin" $'key bytes\n'
  expect_eq descriptors "0 1 2 7" "$(fh_call_fds "$c")"
  expect_eq "stdin kind" pipe "$(fh_call_stream "$c" 0)"
  expect_eq "fd 7" null "$(fh_call_stream "$c" 7)"
}

fake_follows_rules() {
  fh_when ip 'link add *' status=2 stderr=$'RTNETLINK answers: Operation not supported\n' times=1
  fh_when resolvectl 'status' signal=KILL
  /usr/sbin/ip link add ferroglade type wireguard 2>"$FH/e1"
  expect_eq "first add" 2 "$?"
  expect_file_eq "first add stderr" "$FH/e1" $'RTNETLINK answers: Operation not supported\n'
  /usr/sbin/ip link add ferroglade type wireguard
  expect_eq "second add" 0 "$?"
  [[ -d /sys/class/net/ferroglade ]] || fh__fail "link not made"
  /usr/sbin/ip link add ferroglade type wireguard 2>/dev/null
  expect_eq "add over an existing link" 2 "$?"
  /usr/sbin/resolvectl status
  expect_eq "killed" 137 "$?"
}

fake_ip_keeps_rules() {
  fh_rules_installed -4 32741 2
  local i results=
  for i in 1 2 3; do
    /usr/sbin/ip -4 rule del pref 32741 not fwmark 51821 table 51821 2>/dev/null
    results+="$? "
  done
  expect_eq "deletions" "0 0 2 " "$results"
  /usr/sbin/ip -6 rule add table main suppress_prefixlength 0 pref 32740
  expect_eq count 1 "$(fh_rule_count -6 32740)"
}

fake_proc_views() {
  local self one
  self=$(readlink /proc/self/ns/net)
  one=$(readlink /proc/1/ns/net)
  expect_eq "same namespace" "$self" "$one"
  local inner
  inner=$(unshare --net readlink /proc/self/ns/net)
  [[ $inner != "$one" ]] || fh__fail "a further network namespace looks like process 1's"
  [[ -e /proc/net/if_inet6 ]] || fh__fail "if_inet6 missing by default"
  fh_no_ipv6
  [[ ! -e /proc/net/if_inet6 ]] || fh__fail "if_inet6 still there"
  unshare --net bash -c '[[ ! -e /proc/net/if_inet6 ]]' || fh__fail "if_inet6 visible from a further namespace"
  expect_eq "src_valid_mark before" 0 "$(fh_src_valid_mark)"
  unshare --net bash -c 'printf 1 >/proc/sys/net/ipv4/conf/all/src_valid_mark'
  expect_eq "src_valid_mark seen from a further namespace" 1 "$(fh_src_valid_mark)"
  grep -q '^Uid:' /proc/self/status || fh__fail "no status file"
}

fh_case "the real tools are hidden" real_tools_hidden
fh_case "a fake records argv, stdin and descriptors" fake_records_a_run
fh_case "a fake follows its rules" fake_follows_rules
fh_case "the fake ip counts rules" fake_ip_keeps_rules
fh_case "the fake /proc" fake_proc_views
fh_finish
