#!/usr/bin/env bash
# What a caller sees from the command word, the status answer, the root
# refusal and closed or broken standard streams.
source "$(dirname "$0")/lib/fakehost.sh"

# Usage must neither run anything nor read the caller's input.
usage_shown() {
  printf 'unread input' >"$FH/in"
  exec 7<"$FH/in"
  fh_run "$@" <&7
  expect_outcome 2 "" "$FH_USAGE"
  expect_no_tools
  expect_eq "input offset" 0 "$(fh_offset 7)"
}

status_answers() {
  local expected=$1
  shift
  [[ $expected == up ]] && fh_link_present
  fh_run "$@"
  expect_outcome 0 "$expected"$'\n' ""
  expect_no_tools
}

status_without_sysfs_entry() {
  local how=$1
  fh_link_present
  case $how in
    unreadable) chmod 0700 /sys/class/net ;;
    unmounted) mount -t tmpfs -o mode=0755 nosys /sys ;;
  esac
  fh_run --user status
  expect_outcome 0 $'down\n' ""
}

refused_as_nobody() {
  # shellcheck disable=SC2119
  fh_config >"$FH/in"
  exec 7<"$FH/in"
  fh_run --user "$@" <&7
  expect_outcome 1 "" $'error: must run as root (pkexec)\n'
  expect_no_tools
  expect_eq "input offset" 0 "$(fh_offset 7)"
}

status_closed_streams() {
  fh_link_present
  fh_run --stdout-closed status <&-
  expect_status 0
  expect_stderr ""
  fh_run --stdout-closed --stderr-closed status <&-
  expect_status 0
}

status_into_broken_pipe() {
  fh_run --stdout-broken status
  expect_outcome 1 "" $'error: standard output: Broken pipe (os error 32)\n'
}

# Without a usable /dev/null a closed descriptor would be taken by the next file
# opened, so the program stops before doing anything.
no_dev_null_for_closed_input() {
  : >"$FH/not-null"
  mount --bind "$FH/not-null" /dev/null
  mount -o remount,bind,ro /dev/null
  fh_run status <&-
  expect_outcome 1 "" $'error: /dev/null: Read-only file system (os error 30)\n'
}

up_with_stdin_closed() {
  fh_run up <&-
  expect_outcome 1 "" $'error: config json: EOF while parsing a value at line 1 column 0\n'
  expect_no_tools
}

# An error line nobody can read must not turn into a crash or another status.
up_error_with_stderr_closed() {
  fh_run --stderr-closed up <&-
  expect_status 1
  expect_stdout ""
}

down_ignores_extra_arguments() {
  fh_run down now please
  expect_outcome 0 "" ""
  expect_log "$FH_RULE_DELS"
}

for word in UP Status ' up' 'up ' down-now --help '' stat; do
  fh_case "usage for the word '$word'" usage_shown "$word"
done
fh_case "usage without any argument" usage_shown
fh_case "status without the link" status_answers down status
fh_case "status with the link" status_answers up status
fh_case "status ignores further arguments" status_answers up status extra args
fh_case "status as nobody without the link" status_answers down --user status
fh_case "status as nobody with the link" status_answers up --user status
fh_case "status with /sys/class/net unreadable" status_without_sysfs_entry unreadable
fh_case "status without /sys" status_without_sysfs_entry unmounted
fh_case "up refused as nobody" refused_as_nobody up
fh_case "down refused as nobody" refused_as_nobody down
fh_case "down with arguments refused as nobody" refused_as_nobody down now
fh_case "status with closed standard streams" status_closed_streams
fh_case "status into a pipe nobody reads" status_into_broken_pipe
fh_case "no usable /dev/null for a closed descriptor" no_dev_null_for_closed_input
fh_case "up with standard input closed" up_with_stdin_closed
fh_case "up failing with standard error closed" up_error_with_stderr_closed
fh_case "down ignores further arguments" down_ignores_extra_arguments
fh_finish
