#!/usr/bin/env bash
# shellcheck disable=SC2016 # the checks are code, expanded when they run
# The command sequences `up` runs on a host, and what a failed `up` leaves.
source "$(dirname "$0")/lib/fakehost.sh"

RUN=()
EXPECT_STDOUT=
MSG_DNS="dns: neither systemd-resolved nor resolvconf is available"
NO_V6="RTNETLINK answers: Address family not supported by protocol"

# up_scenario SETUP CONFIG STATUS STDERR LOG [CHECK]: SETUP and CHECK are shell
# code run before and after, CONFIG the fh_config arguments.
up_scenario() {
  local setup=$1 config=$2 status=$3 stderr=$4 log=$5 check=${6:-}
  eval "$setup"
  eval "fh_config $config" >"$FH/in"
  fh_run "${RUN[@]}" up <"$FH/in"
  expect_outcome "$status" "$EXPECT_STDOUT" "$stderr"
  expect_log "$log"
  eval "$check"
}

# After a failed up: nothing of the tunnel is left.
clean_host() {
  expect_no_link
  expect_eq "rules left" "0 0 0 0" "$(fh_rule_counts)"
}

tunnel_up() {
  [[ -d /sys/class/net/ferroglade ]] || fh__fail "no link"
  expect_eq "rules" "$1" "$(fh_rule_counts)"
}

fed() { expect_file_eq "input of $1" "$(fh_call "${1%% *}" "${1#* }")/stdin" "$2"; }

RESOLVCONF_HOST='fh_tool resolvectl absent; fh_tool resolvconf'
RC_DEL="resolvconf -d tun.ferroglade -f"
RC_ADD="resolvconf -a tun.ferroglade -m 0 -x"
FULL=$(fh_lines "$FH_RULE_DELS" "$FH_DEVICE" "$FH_POLICY4")
FULL_RC=$(fh_lines "$FH_RULE_DELS" "$RC_DEL" "$FH_DEVICE" "$FH_POLICY4")
POLICY6=$(fh_policy_log -6 ::/0)

fh_case "typical up with systemd-resolved" up_scenario "" "" 0 "" \
  "$(fh_lines "$FULL" "$FH_RESOLVED")" \
  'tunnel_up "1 1 0 0"; expect_src_valid_mark 1; fed "wg set *" "$FH_PRIVATE_KEY"$'"'\\n'"
fh_case "resolvconf only, its output reaching the user" up_scenario \
  "$RESOLVCONF_HOST; fh_when resolvconf '-a *' stdout=\$'recorded\\n' stderr=\$'resolvconf: note\\n'; EXPECT_STDOUT=\$'recorded\\n'" \
  "" 0 $'resolvconf: note\n' "$(fh_lines "$FULL_RC" "$RC_ADD")" \
  'fed "resolvconf -a *" $'"'nameserver 10.8.0.1\\n'"
fh_case "resolvectl status failing, resolvconf used" up_scenario \
  "fh_tool resolvconf; fh_when resolvectl status status=1" "" 0 "" \
  "$(fh_lines "$FULL_RC" "resolvectl status" "$RC_ADD")"
fh_case "resolvectl status failing, no resolvconf" up_scenario "fh_when resolvectl status status=1" "" \
  1 "error: $MSG_DNS"$'\n' "$(fh_lines "$FULL" "resolvectl status" "$FH_ROLLBACK4")" clean_host
fh_case "resolvectl not executable, resolvconf used" up_scenario \
  "fh_tool resolvectl noexec; fh_tool resolvconf" "" 0 "" "$(fh_lines "$FULL_RC" "$RC_ADD")"
fh_case "no DNS backend" up_scenario "fh_tool resolvectl absent" "" \
  1 "error: $MSG_DNS"$'\n' "$(fh_lines "$FULL" "$FH_ROLLBACK4")" clean_host
fh_case "resolvconf exiting 1" up_scenario "$RESOLVCONF_HOST; fh_when resolvconf '-a *' status=1" "" \
  1 "error: $MSG_DNS"$'\n' "$(fh_lines "$FULL_RC" "$RC_ADD" "$(fh_teardown_log 1 1 0 0 link resolvconf)")" clean_host
fh_case "resolvconf not executable" up_scenario "fh_tool resolvectl absent; fh_tool resolvconf noexec" "" \
  1 $'error: Permission denied (os error 13)\n' "$(fh_lines "$FULL" "$FH_ROLLBACK4")" clean_host
fh_case "resolvconf quitting before its input" up_scenario \
  "$RESOLVCONF_HOST; fh_when resolvconf '-a *' noread status=0; RUN=(--slow-writes)" "" \
  1 $'error: Broken pipe (os error 32)\n' \
  "$(fh_lines "$FULL_RC" "$RC_ADD" "$(fh_teardown_log 1 1 0 0 link resolvconf)")" clean_host
fh_case "IPv6 server in full form reaches resolvectl short" up_scenario "" \
  "dns='\" 2001:0DB8:0000:0000:0000:0000:0000:0053 \"'" 0 "" \
  "$(fh_lines "$FULL" "resolvectl status" "resolvectl dns ferroglade 2001:db8::53" "resolvectl domain ferroglade ~." \
    "resolvectl default-route ferroglade true")"
fh_case "IPv4-mapped server keeps its dotted tail" up_scenario "$RESOLVCONF_HOST" "dns='\"::ffff:10.0.0.53\"'" 0 "" \
  "$(fh_lines "$FULL_RC" "$RC_ADD")" 'fed "resolvconf -a *" $'"'nameserver ::ffff:10.0.0.53\\n'"
fh_case "foreign namespace leaves DNS alone" up_scenario "fh_tool resolvconf; RUN=(--foreign)" "" \
  0 $'warning: network namespace: DNS left alone\n' "$FULL" 'tunnel_up "1 1 0 0"'
fh_case "foreign namespace without dns says nothing" up_scenario "RUN=(--foreign)" "-dns" 0 "" "$FULL"
fh_case "dns absent" up_scenario "fh_tool resolvconf" "-dns" 0 "" "$(fh_lines "$FH_RULE_DELS" "$RC_DEL" "$FH_DEVICE" "$FH_POLICY4")"
fh_case "dns null" up_scenario "" "dns=null" 0 "" "$FULL"
fh_case "default-route failing is ignored" up_scenario "fh_when resolvectl 'default-route *' status=1" "" 0 "" \
  "$(fh_lines "$FULL" "$FH_RESOLVED")" 'tunnel_up "1 1 0 0"'

# Networks, with and without IPv6 on the host.
fh_case "split tunnel" up_scenario "" "allowed_ips='[\"10.1.2.3/8\",\"192.168.1.0/24\"]'" 0 "" \
  "$(fh_lines "$FH_RULE_DELS" "$(fh_device_log 10.0.0.0/8,192.168.1.0/24)" "ip -4 route add 10.0.0.0/8 dev ferroglade" \
    "ip -4 route add 192.168.1.0/24 dev ferroglade" "$FH_RESOLVED")" \
  'tunnel_up "0 0 0 0"; expect_src_valid_mark $'"'0\\n'"
fh_case "mixed split tunnel" up_scenario "" \
  "allowed_ips='[\"fd00::1/64\",\"10.0.0.0/8\",\"2001:0DB8:0000:0000:0000:0000:0000:0000/32\"]'" 0 "" \
  "$(fh_lines "$FH_RULE_DELS" "$(fh_device_log fd00::/64,10.0.0.0/8,2001:db8::/32)" \
    "ip -6 route add fd00::/64 dev ferroglade" "ip -4 route add 10.0.0.0/8 dev ferroglade" \
    "ip -6 route add 2001:db8::/32 dev ferroglade" "$FH_RESOLVED")"
fh_case "full tunnel of both families" up_scenario "" "allowed_ips='[\"::/0\",\"0.0.0.0/0\"]'" 0 "" \
  "$(fh_lines "$FH_RULE_DELS" "$(fh_device_log ::/0,0.0.0.0/0 fwmark)" "$POLICY6" "$FH_POLICY4" "$FH_RESOLVED")" \
  'tunnel_up "1 1 1 1"; expect_src_valid_mark 1'
fh_case "IPv6 full tunnel alone" up_scenario "" "allowed_ips='[\"::/0\"]'" 0 "" \
  "$(fh_lines "$FH_RULE_DELS" "$(fh_device_log ::/0 fwmark)" "$POLICY6" "$FH_RESOLVED")" \
  'tunnel_up "0 0 1 1"; expect_src_valid_mark $'"'0\\n'"
fh_case "full tunnel of both families without IPv6" up_scenario fh_no_ipv6 "allowed_ips='[\"0.0.0.0/0\",\"::/0\"]'" \
  0 "warning: no IPv6 on this system: ip -6 route add ::/0 dev ferroglade table 51821: $NO_V6"$'\n' \
  "$(fh_lines "$FH_RULE_DELS" "$(fh_device_log 0.0.0.0/0,::/0 fwmark)" "$FH_POLICY4" \
    "ip -6 route add ::/0 dev ferroglade table 51821" "$FH_RESOLVED")" 'tunnel_up "1 1 0 0"'
fh_case "IPv6 networks without IPv6 warn one by one" up_scenario fh_no_ipv6 \
  "allowed_ips='[\"fd00::/64\",\"10.0.0.0/8\",\"fd01::/64\"]'" 0 \
  "$(fh_lines "warning: no IPv6 on this system: ip -6 route add fd00::/64 dev ferroglade: $NO_V6" \
    "warning: no IPv6 on this system: ip -6 route add fd01::/64 dev ferroglade: $NO_V6")"$'\n' \
  "$(fh_lines "$FH_RULE_DELS" "$(fh_device_log fd00::/64,10.0.0.0/8,fd01::/64)" "ip -6 route add fd00::/64 dev ferroglade" \
    "ip -4 route add 10.0.0.0/8 dev ferroglade" "ip -6 route add fd01::/64 dev ferroglade" "$FH_RESOLVED")"
fh_case "IPv6 route failing on a host with IPv6" up_scenario \
  "fh_when ip '-6 route add *' status=2 stderr='RTNETLINK answers: Permission denied'" \
  "allowed_ips='[\"fd00::/64\",\"10.0.0.0/8\"]'" 1 $'error: ip -6 route add fd00::/64 dev ferroglade: RTNETLINK answers: Permission denied\n' \
  "$(fh_lines "$FH_RULE_DELS" "$(fh_device_log fd00::/64,10.0.0.0/8)" "ip -6 route add fd00::/64 dev ferroglade" \
    "$(fh_teardown_log 0 0 0 0 link)")" clean_host
fh_case "IPv4 route failing stops the list" up_scenario \
  "fh_when ip '-4 route add 10.1.0.0/16 *' status=2 stderr='RTNETLINK answers: File exists'" \
  "allowed_ips='[\"10.0.0.0/16\",\"10.1.0.0/16\",\"10.2.0.0/16\"]'" \
  1 $'error: ip -4 route add 10.1.0.0/16 dev ferroglade: RTNETLINK answers: File exists\n' \
  "$(fh_lines "$FH_RULE_DELS" "$(fh_device_log 10.0.0.0/16,10.1.0.0/16,10.2.0.0/16)" \
    "ip -4 route add 10.0.0.0/16 dev ferroglade" "ip -4 route add 10.1.0.0/16 dev ferroglade" \
    "$(fh_teardown_log 0 0 0 0 link)")" clean_host

# Each failing step, and the rollback after it.
DENIED='status=2 stderr="RTNETLINK answers: Operation not permitted"'
ERR_DENIED=": RTNETLINK answers: Operation not permitted"$'\n'
LINK_ADD="ip link add ferroglade type wireguard"
WG=$(fh_lines "$FH_DEVICE" | sed -n 2p)
ADDR="ip -4 address add 10.8.0.2/24 dev ferroglade"
MTU="ip link set dev ferroglade mtu 1420 up"
ROUTE="ip -4 route add 0.0.0.0/0 dev ferroglade table 51821"
RULE_T="ip -4 rule add not fwmark 51821 table 51821 pref 32741"
RULE_M="ip -4 rule add table main suppress_prefixlength 0 pref 32740"
fh_case "link creation failing" up_scenario "fh_when ip 'link add *' $DENIED" "" \
  1 "error: wireguard_module: $LINK_ADD$ERR_DENIED" "$(fh_lines "$FH_RULE_DELS" "$LINK_ADD" "$FH_RULE_DELS")" clean_host
fh_case "wg failing" up_scenario "fh_when wg 'set *' status=1 stderr='Key is not the correct length or format'" "" \
  1 $'error: wg set: Key is not the correct length or format\n' \
  "$(fh_lines "$FH_RULE_DELS" "$LINK_ADD" "$WG" "$(fh_teardown_log 0 0 0 0 link)")" clean_host
fh_case "address failing" up_scenario "fh_when ip '-4 address add *' $DENIED" "" 1 "error: $ADDR$ERR_DENIED" \
  "$(fh_lines "$FH_RULE_DELS" "$LINK_ADD" "$WG" "$ADDR" "$(fh_teardown_log 0 0 0 0 link)")" clean_host
fh_case "link-up failing" up_scenario "fh_when ip 'link set *' $DENIED" "" 1 "error: $MTU$ERR_DENIED" \
  "$(fh_lines "$FH_RULE_DELS" "$FH_DEVICE" "$(fh_teardown_log 0 0 0 0 link)")" clean_host
fh_case "tunnel route failing" up_scenario "fh_when ip '-4 route add *' $DENIED" "" 1 "error: $ROUTE$ERR_DENIED" \
  "$(fh_lines "$FH_RULE_DELS" "$FH_DEVICE" "$ROUTE" "$(fh_teardown_log 0 0 0 0 link)")" clean_host
fh_case "tunnel rule failing" up_scenario "fh_when ip '-4 rule add not *' $DENIED" "" 1 "error: $RULE_T$ERR_DENIED" \
  "$(fh_lines "$FH_RULE_DELS" "$FH_DEVICE" "$ROUTE" "$RULE_T" "$(fh_teardown_log 0 0 0 0 link)")" \
  'clean_host; expect_src_valid_mark $'"'0\\n'"
fh_case "main-table rule failing" up_scenario "fh_when ip '-4 rule add table *' $DENIED" "" 1 "error: $RULE_M$ERR_DENIED" \
  "$(fh_lines "$FH_RULE_DELS" "$FH_DEVICE" "$ROUTE" "$RULE_T" "$RULE_M" "$(fh_teardown_log 1 0 0 0 link)")" clean_host
fh_case "resolvectl dns failing" up_scenario "fh_when resolvectl 'dns *' status=1 stderr='Failed to set DNS configuration'" "" \
  1 $'error: resolvectl dns ferroglade 10.8.0.1: Failed to set DNS configuration\n' \
  "$(fh_lines "$FULL" "resolvectl status" "resolvectl dns ferroglade 10.8.0.1" "$FH_ROLLBACK4")" \
  'clean_host; expect_src_valid_mark 1'
fh_case "resolvectl domain failing" up_scenario "fh_when resolvectl 'domain *' status=1" "" \
  1 $'error: resolvectl domain ferroglade ~.: \n' \
  "$(fh_lines "$FULL" "resolvectl status" "resolvectl dns ferroglade 10.8.0.1" "resolvectl domain ferroglade ~." \
    "$FH_ROLLBACK4")" clean_host
fh_case "src_valid_mark unwritable is ignored" up_scenario \
  "rm /proc/sys/net/ipv4/conf/all/src_valid_mark; mkdir /proc/sys/net/ipv4/conf/all/src_valid_mark" "" 0 "" \
  "$(fh_lines "$FULL" "$FH_RESOLVED")" 'tunnel_up "1 1 0 0"'
fh_case "src_valid_mark created when missing" up_scenario "rm /proc/sys/net/ipv4/conf/all/src_valid_mark" "" 0 "" \
  "$(fh_lines "$FULL" "$FH_RESOLVED")" 'expect_src_valid_mark 1'

# Over what an earlier up left.
fh_case "up over an existing tunnel" up_scenario \
  "fh_tool resolvconf; fh_config >\$FH/first; fh_run up <\$FH/first; expect_status 0" "mtu=1400" 0 "" \
  "$(fh_lines "$(fh_teardown_log 1 1 0 0 link resolvconf)" "$(fh_device_log 0.0.0.0/0 fwmark | sed s/1420/1400/)" \
    "$FH_POLICY4" "$FH_RESOLVED")" 'tunnel_up "1 1 0 0"'
fh_case "a link that survives the clean start" up_scenario "fh_link_present; fh_when ip 'link del *' $DENIED" "" \
  1 "error: wireguard_module: $LINK_ADD: RTNETLINK answers: File exists"$'\n' \
  "$(fh_lines "$(fh_teardown_log 0 0 0 0 link)" "$LINK_ADD" "$(fh_teardown_log 0 0 0 0 link)")"

# Documents that never reach the host, whatever is already up there.
EXISTING='fh_link_present; fh_rules_installed -4 32741 1; fh_rules_installed -4 32740 1'
STILL_UP='tunnel_up "1 1 0 0"'
MTU_COLUMN=$(fh_config mtu='"1420"' | sed 's/"mtu":"1420".*/"mtu":"1420"/' | tr -d '\n' | wc -c)
fh_case "empty document" up_scenario "$EXISTING; fh_config() { :; }" "" \
  1 $'error: config json: EOF while parsing a value at line 1 column 0\n' "" "$STILL_UP"
fh_case "unterminated document" up_scenario "$EXISTING; fh_config() { printf '{'; }" "" \
  1 $'error: config json: EOF while parsing an object at line 1 column 1\n' "" "$STILL_UP"
fh_case "trailing characters" up_scenario "$EXISTING" "; printf x" \
  1 $'error: config json: trailing characters at line 2 column 1\n' "" "$STILL_UP"
fh_case "mtu as a string" up_scenario "$EXISTING" "mtu='\"1420\"'" \
  1 "error: config json: invalid type: string \"1420\", expected u32 at line 1 column $MTU_COLUMN"$'\n' "" "$STILL_UP"
fh_case "input not UTF-8" up_scenario "$EXISTING" "address=$'\"10.8.0.2/24\\xff\"'" \
  1 $'error: stream did not contain valid UTF-8\n' "" "$STILL_UP"
fh_case "bad key" up_scenario "$EXISTING" "peer_public_key='\"AgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgI\"'" \
  1 $'error: bad key\n' "" "$STILL_UP"
fh_case "bad endpoint" up_scenario "$EXISTING" "endpoint='\"vpn.example.org:51820\"'" \
  1 $'error: endpoint must be ip:port\n' "" "$STILL_UP"
fh_case "valid document without wg" up_scenario "$EXISTING; fh_tool wg absent" "" \
  1 $'error: wg_missing\n' "" "$STILL_UP"

lifecycle() {
  fh_tool resolvconf
  fh_config >"$FH/in"
  fh_run up <"$FH/in"
  expect_outcome 0 "" ""
  fh_run --user status
  expect_outcome 0 $'up\n' ""
  expect_no_tools
  fh_run down
  expect_outcome 0 "" ""
  expect_log "$(fh_teardown_log 1 1 0 0 link resolvconf)"
  clean_host
  fh_run status
  expect_outcome 0 $'down\n' ""
  expect_eq "routes left" "" "$(fh_routes)"
}
fh_case "up, status, down, status" lifecycle
fh_finish
