#!/usr/bin/env bash
# Builds the Debian package with CPack and checks what it ships: file list,
# owners and modes, control fields, the polkit action, the packaged manual page
# and completion, the packaged binary itself, and lintian.
set -euo pipefail
build=${FERROGLADE_BUILD_DIR:?FERROGLADE_BUILD_DIR must name the build directory}
here=$(cd "$(dirname "$0")" && pwd)
for tool in cpack dpkg-deb dpkg-shlibdeps xmllint lintian groff man; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed" >&2; exit 77; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
passed=0 failed=0
check() { # name, then a command that must succeed
  local name=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $name"; fi
}

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/out" >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log"; exit 1; }
debs=("$tmp"/out/*.deb)
if [ "${#debs[@]}" -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "FAIL expected one package, got: ${debs[*]}"
  exit 1
fi
deb=${debs[0]}
root="$tmp/root"
dpkg-deb -x "$deb" "$root"

expected_files() {
  cat <<'LIST'
drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/sbin/
-rwxr-xr-x root/root ./usr/sbin/ferroglade-tunnel
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/bash-completion/
drwxr-xr-x root/root ./usr/share/bash-completion/completions/
-rw-r--r-- root/root ./usr/share/bash-completion/completions/ferroglade-tunnel
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/ferroglade-tunnel/
-rw-r--r-- root/root ./usr/share/doc/ferroglade-tunnel/changelog.Debian.gz
-rw-r--r-- root/root ./usr/share/doc/ferroglade-tunnel/copyright
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/man8/
-rw-r--r-- root/root ./usr/share/man/man8/ferroglade-tunnel.8.gz
drwxr-xr-x root/root ./usr/share/polkit-1/
drwxr-xr-x root/root ./usr/share/polkit-1/actions/
-rw-r--r-- root/root ./usr/share/polkit-1/actions/org.ferroglade.tunnel.policy
LIST
}
file_list() { dpkg-deb -c "$deb" | awk '{print $1, $2, $6}' | sort -k3; }
check "file list, owners and modes" diff -u <(expected_files) <(file_list)

field() { dpkg-deb -f "$deb" "$1"; }
check "package name" test "$(field Package)" = ferroglade-tunnel
check "section" test "$(field Section)" = net
check "priority" test "$(field Priority)" = optional
check "maintainer" test -n "$(field Maintainer)"
check "description has a summary and a body" test "$(field Description | wc -l)" -ge 3
depends_ok() {
  local d
  d=", $(field Depends),"
  [[ $d == *", iproute2,"* && $d == *", wireguard-tools,"* && $d == *", libc6 "* ]]
}
check "depends on iproute2, wireguard-tools and the C library" depends_ok
check "recommends a resolver manager" test "$(field Recommends)" = "systemd-resolved | openresolv"
check "suggests pkexec" test "$(field Suggests)" = pkexec

policy="$root/usr/share/polkit-1/actions/org.ferroglade.tunnel.policy"
xpath() { xmllint --xpath "$1" "$policy"; }
check "polkit action is well-formed XML" xmllint --noout "$policy"
exec_path_ok() {
  local p
  p=$(xpath 'string(//action/annotate[@key="org.freedesktop.policykit.exec.path"])')
  [ "$p" = /usr/sbin/ferroglade-tunnel ] && [ -x "$root$p" ]
}
check "polkit exec path is the packaged binary" exec_path_ok
check "polkit action is the only one" test "$(xpath 'count(//action)')" = 1
check "polkit asks for an administrator, kept for active sessions" \
  test "$(xpath 'string(//defaults/allow_any)') $(xpath 'string(//defaults/allow_inactive)') $(xpath 'string(//defaults/allow_active)')" = \
  "auth_admin auth_admin auth_admin_keep"
check "polkit action has a message" test -n "$(xpath 'normalize-space(//action/message)')"

page="$root/usr/share/man/man8/ferroglade-tunnel.8.gz"
gzip_ok() { gzip -t "$1" && [ "$(od -An -tu4 -j4 -N4 "$1" | tr -d " ")" = 0 ]; }
check "manual page is gzip without a time stamp" gzip_ok "$page"
renders_ok() { [ -z "$(LC_ALL=C.UTF-8 man --warnings -l "$1" 2>&1 >/dev/null)" ]; }
check "packaged manual page renders without warnings" renders_ok "$page"
check "packaged manual page is the source page" cmp -s <(zcat "$page") "$here/../ferroglade-tunnel.8"
check "packaged completion is the source file" \
  cmp -s "$root/usr/share/bash-completion/completions/ferroglade-tunnel" "$here/../ferroglade-tunnel.bash-completion"
changelog_ok() { zcat "$root/usr/share/doc/ferroglade-tunnel/changelog.Debian.gz" | head -1 | grep -qF "ferroglade-tunnel ($(field Version))"; }
check "changelog names the package version" changelog_ok

binary="$root/usr/sbin/ferroglade-tunnel"
stripped() { ! readelf -S "$binary" | grep -q '\.debug_info'; }
is_program() {
  local rc=0
  "$binary" >/dev/null 2>"$tmp/usage" </dev/null || rc=$?
  [ "$rc" -eq 2 ] && [ "$(head -1 "$tmp/usage")" = "usage: ferroglade-tunnel <command>" ]
}
check "packaged binary is stripped" stripped
check "packaged binary is the program" is_program

# Warnings left on purpose: the package is not uploaded to Debian, so it closes
# no ITP bug.
allowed_warnings='initial-upload-closes-no-bugs'
lintian --tag-display-limit 0 "$deb" >"$tmp/lintian.txt" 2>&1 || true
grep -v 'running with root privileges is not recommended' "$tmp/lintian.txt" || true
no_errors() { ! grep -q '^E: ' "$tmp/lintian.txt"; }
no_new_warnings() { ! grep '^W: ' "$tmp/lintian.txt" | grep -vE ": ($allowed_warnings)( |$)"; }
check "lintian reports no error" no_errors
check "lintian reports no unexpected warning" no_new_warnings

echo "debian package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
