#!/usr/bin/env bash
# No memory errors and no leaks in up, a failing up and down (valgrind memcheck;
# the tools it starts are fakes and not traced).
source "$(dirname "$0")/lib/fakehost.sh"
command -v valgrind >/dev/null || fh_skip_suite "valgrind missing"

checked() {
  local report=$FH/valgrind.$1
  shift
  fh_run --valgrind "$report" "$@"
  if [[ -s $report ]]; then
    fh__fail "valgrind reported:"
    sed 's/^/  /' "$report"
  fi
}

up_and_down() {
  fh_tool resolvconf
  fh_config >"$FH/in"
  checked up up <"$FH/in"
  expect_outcome 0 "" ""
  checked down down
  expect_outcome 0 "" ""
  checked status status
  expect_outcome 0 $'down\n' ""
}

failing_up() {
  fh_when ip '-4 rule add table *' status=2 stderr=$'RTNETLINK answers: Operation not permitted\n'
  fh_config -dns allowed_ips='["0.0.0.0/0","::/0"]' >"$FH/in"
  checked up up <"$FH/in"
  expect_status 1
  fh_config mtu='"x"' >"$FH/in"
  checked bad-document up <"$FH/in"
  expect_status 1
}

fh_case "up, down and status" up_and_down
fh_case "failing up and a bad document" failing_up
fh_finish
