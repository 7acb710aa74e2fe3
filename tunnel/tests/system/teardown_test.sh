#!/usr/bin/env bash
# What `down` runs on hosts in various states, and what it leaves.
source "$(dirname "$0")/lib/fakehost.sh"

RUN=()

# down_scenario SETUP STATUS STDERR LOG [CHECK]
down_scenario() {
  local setup=$1 status=$2 stderr=$3 log=$4 check=${5:-}
  eval "$setup"
  fh_run "${RUN[@]}" down
  expect_outcome "$status" "" "$stderr"
  expect_log "$log"
  eval "$check"
}

rules_left() {
  expect_eq "rules left" "$1" "$(fh_rule_counts)"
}

installed() {
  local n=$1
  fh_rules_installed -4 32741 "$n"
  fh_rules_installed -4 32740 "$n"
  fh_rules_installed -6 32741 "$n"
  fh_rules_installed -6 32740 "$n"
}

twice() {
  fh_tool resolvconf
  fh_link_present
  fh_run down
  expect_outcome 0 "" ""
  fh_run down
  expect_outcome 0 "" ""
  expect_log "$(fh_teardown_log 0 0 0 0 resolvconf)"
}

NO_LINK=expect_no_link
fh_case "nothing there" down_scenario "" 0 "" "$FH_RULE_DELS"
fh_case "nothing there, resolvconf installed" down_scenario "fh_tool resolvconf" 0 "" \
  "$(fh_teardown_log 0 0 0 0 resolvconf)"
fh_case "resolvconf in a foreign namespace" down_scenario "fh_tool resolvconf; fh_link_present; RUN=(--foreign)" \
  0 "" "$(fh_teardown_log 0 0 0 0 link)" "$NO_LINK"
fh_case "resolvconf failing is ignored" down_scenario "fh_tool resolvconf; fh_when resolvconf '-d *' status=1" \
  0 "" "$(fh_teardown_log 0 0 0 0 resolvconf)"
fh_case "rules installed three times" down_scenario "installed 3; fh_link_present" 0 "" \
  "$(fh_teardown_log 3 3 3 3 link)" "rules_left '0 0 0 0'; $NO_LINK"
fh_case "rules installed eight times" down_scenario "installed 8" 0 "" "$(fh_teardown_log 8 8 8 8)" \
  "rules_left '0 0 0 0'"
fh_case "rules installed nine times" down_scenario "installed 9" 0 "" "$(fh_teardown_log 9 9 9 9)" \
  "rules_left '1 1 1 1'"
fh_case "link present, rules missing" down_scenario "fh_link_present" 0 "" "$(fh_teardown_log 0 0 0 0 link)" "$NO_LINK"
fh_case "host without IPv6" down_scenario "fh_no_ipv6; installed 1; fh_link_present" 0 "" \
  "$(fh_teardown_log 1 1 0 0 link)" "rules_left '0 0 1 1'"
fh_case "link deletion failing keeps the record" down_scenario \
  "fh_tool resolvconf; fh_link_present; fh_when ip 'link del *' status=2 stderr='RTNETLINK answers: Operation not permitted'" \
  1 $'error: ip link del dev ferroglade: RTNETLINK answers: Operation not permitted\n' "$(fh_teardown_log 0 0 0 0 link)"
fh_case "ip absent without a link" down_scenario "fh_tool ip absent; fh_tool resolvconf" 0 "" \
  "resolvconf -d tun.ferroglade -f"
fh_case "ip absent with a link" down_scenario "fh_tool ip absent; fh_tool resolvconf; fh_link_present" \
  1 $'error: ip: No such file or directory (os error 2)\n' ""
fh_case "no resolvectl command on removal" down_scenario "fh_tool resolvconf; installed 1; fh_link_present" 0 "" \
  "$(fh_teardown_log 1 1 1 1 link resolvconf)"
fh_case "down run twice" twice
fh_case "started with SIGCHLD ignored" down_scenario "installed 3; fh_link_present; RUN=(--sigchld-ignored)" 0 "" \
  "$(fh_teardown_log 3 3 3 3 link)" "rules_left '0 0 0 0'; $NO_LINK"
fh_finish
