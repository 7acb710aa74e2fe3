#!/usr/bin/env bash
# How the binary starts host tools: lookup, search path, descriptors, streams,
# signals, and the error texts it makes of their failures.
source "$(dirname "$0")/lib/fakehost.sh"

LINK_ADD="ip link add ferroglade type wireguard"

up_fails_with() {
  fh_config >"$FH/in"
  fh_run up <"$FH/in"
  expect_outcome 1 "" "error: $1"$'\n'
}

# How ip is broken, then the error line of the link creation.
ip_unusable() {
  local how=$1 expected=$2
  case $how in
    absent | noexec) fh_tool ip "$how" ;;
    only-in-local)
      fh_tool ip absent
      fh_tool ip fake /usr/local/sbin
      ;;
  esac
  fh_config >"$FH/in"
  fh_run --env PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin up <"$FH/in"
  expect_outcome 1 "" "error: $expected"$'\n'
  expect_no_tools
}

# step_fails TOOL PATTERN EXPECTED BEHAVIOUR...: the error line, and nothing left behind.
step_fails() {
  local tool=$1 pattern=$2 expected=$3
  shift 3
  fh_when "$tool" "$pattern" "$@"
  up_fails_with "$expected"
  expect_no_link
}

# The link creation's standard error, and what the error line makes of it.
link_add_fails() {
  local expected=$1
  shift
  step_fails ip 'link add *' "wireguard_module: $LINK_ADD: $expected" "$@"
}

link_add_stderr() {
  fh_when ip 'link add *' status=2 "stderr=$1"
  up_fails_with "wireguard_module: $LINK_ADD: $2"
}

# Both pipes filled far beyond their buffers: a runner draining one at a time stalls.
flooding_tool() {
  fh_when ip 'link add *' flood=3 times=1
  fh_config >"$FH/in"
  fh_run up <"$FH/in"
  expect_outcome 0 "" ""
  [[ -d /sys/class/net/ferroglade ]] || fh__fail "link missing after a flooding success"

  fh_when ip '-4 address add *' flood=3 status=1
  fh_run up <"$FH/in"
  expect_status 1
  local prefix="error: ip -4 address add 10.8.0.2/24 dev ferroglade: "
  local expected_size=$((${#prefix} + 3 * 1048576 + 9 + 1))
  expect_eq "error line size" "$expected_size" "$(stat -c %s "$FH/err")"
  expect_eq "error line end" "eeeeflood end" "$(tail -c 14 "$FH/err" | head -c 13)"
}

wg_gets_trimmed_key() {
  fh_config "private_key=\" \\t$FH_PRIVATE_KEY\\n\"" >"$FH/in"
  fh_run up <"$FH/in"
  expect_status 0
  local c
  c=$(fh_call wg 'set *')
  expect_file_eq "wg input" "$c/stdin" "$FH_PRIVATE_KEY"$'\n'
  if grep -r -q -F -e "$FH_PRIVATE_KEY" "$FH"/calls/*/argv; then fh__fail "private key on a command line"; fi
}

wg_fails() { step_fails wg 'set *' "$@"; }

wg_quits_unread() {
  fh_when wg 'set *' noread status=1
  fh_config >"$FH/in"
  fh_run --slow-writes up <"$FH/in"
  expect_outcome 1 "" $'error: Broken pipe (os error 32)\n'
  expect_no_link
}

wg_unusable() {
  fh_tool wg "$1"
  up_fails_with "$2"
}

# One tool of each kind of run: must-succeed, quiet, key-fed, resolver-fed.
every_tool_inherits_only_its_streams() {
  fh_tool resolvectl absent
  fh_tool resolvconf
  fh_config >"$FH/in"
  fh_run --env FH_MARK=kept --env PATH=/usr/local/sbin:/opt up <"$FH/in" 5<"$FH/in" 9>"$FH/stray"
  expect_outcome 0 "" ""
  local c count=0
  for c in $(fh_calls); do
    count=$((count + 1))
    local what
    what="$(tr '\0' ' ' <"$c/argv")"
    expect_eq "descriptors of $what" "0 1 2" "$(fh_call_fds "$c")"
    expect_eq "PATH of $what" /usr/sbin:/usr/bin:/sbin:/bin "$(cat "$c/path")"
    expect_eq "environment of $what" kept "$(cat "$c/mark" 2>/dev/null)"
    if fh_call_ignores_sigpipe "$c"; then fh__fail "$what starts with the broken-pipe signal ignored"; fi
  done
  ((count > 10)) || fh__fail "only $count tools ran"
  streams_are "rule deletion" "$(fh_call ip '-4 rule del *')" null null null
  streams_are "link creation" "$(fh_call ip 'link add *')" null pipe pipe
  streams_are "wg" "$(fh_call wg)" pipe null pipe
  streams_are "resolvconf record" "$(fh_call resolvconf '-a *')" pipe "$FH/out" "$FH/err"
  streams_are "resolvconf removal" "$(fh_call resolvconf '-d *')" null null null
}

streams_are() {
  local what=$1 c=$2
  shift 2
  if [[ -z $c ]]; then
    fh__fail "$what: no such run"
    return
  fi
  expect_eq "streams of $what" "$*" "$(fh_call_stream "$c" 0) $(fh_call_stream "$c" 1) $(fh_call_stream "$c" 2)"
}

path_unset() {
  fh_config -dns >"$FH/in"
  fh_run --unset-path up <"$FH/in"
  expect_status 0
  expect_eq "PATH of the first tool" /usr/sbin:/usr/bin:/sbin:/bin "$(cat "$(fh_call ip)/path")"
}

# Closed at start, the streams are /dev/null for the tools too.
resolver_with_closed_streams() {
  fh_tool resolvectl absent
  fh_tool resolvconf
  fh_config >"$FH/in"
  fh_run --stdout-closed --stderr-closed up <"$FH/in"
  expect_status 0
  streams_are "resolvconf record" "$(fh_call resolvconf '-a *')" pipe null null
}

fh_case "ip absent" ip_unusable absent "wireguard_module: ip: No such file or directory (os error 2)"
fh_case "ip not executable" ip_unusable noexec "wireguard_module: ip: Permission denied (os error 13)"
fh_case "ip only in /usr/local/sbin" ip_unusable only-in-local "wireguard_module: ip: No such file or directory (os error 2)"
fh_case "a tool failing with a message" link_add_fails "RTNETLINK answers: Operation not supported" \
  status=2 "stderr=RTNETLINK answers: Operation not supported"$'\n'
fh_case "a tool failing silently" link_add_fails "" status=1
fh_case "a tool failing with only standard output" link_add_fails "" status=1 stdout=noise
fh_case "a tool killed by a signal" link_add_fails "" signal=KILL
fh_case "a tool killed after a message" link_add_fails "dying" stderr=dying signal=TERM
fh_case "standard error trimmed, inner line feeds kept" link_add_stderr $'\t first\n second \r\n\n' $'first\n second'
fh_case "standard error trimmed of Unicode white space" link_add_stderr $'\u00a0\u2003no module\u3000\u2029\n' "no module"
fh_case "invalid UTF-8 on standard error" link_add_stderr $'bad \xff and \xe2\x82x\n' $'bad \ufffd and \ufffdx'
fh_case "a tool flooding both pipes" flooding_tool
fh_case "the key reaches wg trimmed with one line feed" wg_gets_trimmed_key
fh_case "wg failing with a message" wg_fails "wg set: Name or service not known" \
  status=1 "stderr=Name or service not known"$'\n'
fh_case "wg failing silently" wg_fails "wg set: " status=1
fh_case "wg killed by a signal" wg_fails "wg set: " signal=KILL
fh_case "wg quitting before reading the key" wg_quits_unread
fh_case "wg absent" wg_unusable absent "wg_missing"
fh_case "wg a directory" wg_unusable dir "wg_missing"
fh_case "wg not executable" wg_unusable noexec "Permission denied (os error 13)"
fh_case "tools get only their streams, the reset PATH, the environment" every_tool_inherits_only_its_streams
fh_case "PATH unset at start" path_unset
fh_case "the resolver with the streams closed at start" resolver_with_closed_streams
fh_finish
