#!/usr/bin/env bash
# Builds the Debian package and checks what its users see: files, owners and modes, control
# fields, the polkit action, systemd unit, manual page, completion and lintian. Usage: BUILD_DIR VERSION
# shellcheck disable=SC2016,SC2034 # the checks are code, expanded when they run
set -euo pipefail
export LC_ALL=C.UTF-8
for t in cpack dpkg-deb xmllint man lintian systemd-analyze; do command -v $t >/dev/null || { echo "skipped: no $t" >&2; exit 77; }; done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0
check() { eval "$2" || { echo "FAIL $1"; fails=$((fails + 1)); }; } # name, condition
cpack --config "$1/CPackConfig.cmake" -G DEB -B "$tmp" >"$tmp/log" 2>&1 || { cat "$tmp/log"; exit 1; }
deb=$(echo "$tmp"/*.deb) root=$tmp/root version=$2 bin=/usr/sbin/ferroglade-tunnel
dpkg-deb -x "$deb" "$root"

# Every directory is root's and 0755, so only the files are listed.
listing() { dpkg-deb -c "$deb" | awk '!/^d/ || $1 $2 != "drwxr-xr-xroot/root" { print $1, $2, $6 }' | sort -k3; }
check "files, owners and modes" 'diff -u - <(listing)' <<EOF
-rw-r--r-- root/root ./usr/lib/systemd/system/ferroglade-tunnel.service
-rwxr-xr-x root/root .$bin
-rw-r--r-- root/root ./usr/share/bash-completion/completions/ferroglade-tunnel
-rw-r--r-- root/root ./usr/share/doc/ferroglade-tunnel/changelog.Debian.gz
-rw-r--r-- root/root ./usr/share/doc/ferroglade-tunnel/copyright
-rw-r--r-- root/root ./usr/share/man/man8/ferroglade-tunnel.8.gz
-rw-r--r-- root/root ./usr/share/polkit-1/actions/org.ferroglade.tunnel.policy
EOF
# Library versions depend on the build machine.
fields() { dpkg-deb -f "$deb" Package Version Section Priority Depends Recommends Suggests | sed -E 's/ \([^)]*\)//g'; }
check "control fields" 'diff -u - <(fields)' <<EOF
Package: ferroglade-tunnel
Version: $version-1
Section: net
Priority: optional
Depends: iproute2, wireguard-tools, libc6, libgcc-s1, libstdc++6
Recommends: systemd-resolved | openresolv
Suggests: pkexec
EOF
check "changelog names the version" 'zcat "$root/usr/share/doc/ferroglade-tunnel/changelog.Debian.gz" | head -1 | grep -qF "($version-1)"'

xpath() { xmllint --xpath "string($1)" "$root/usr/share/polkit-1/actions/org.ferroglade.tunnel.policy"; }
check "polkit runs the packaged binary" '[ "$(xpath "//annotate[@key=\"org.freedesktop.policykit.exec.path\"]")" = $bin ] && [ -x "$root$bin" ]'
check "polkit asks for an administrator" '[ "$(xpath //allow_any) $(xpath //allow_inactive) $(xpath //allow_active)" = "auth_admin auth_admin auth_admin_keep" ]'

# With the packaged binary and manual page standing in for installed ones.
sed "s|=$bin |=$root$bin |" "$root/usr/lib/systemd/system/ferroglade-tunnel.service" >"$tmp/ferroglade-tunnel.service"
check "systemd accepts the unit" '[ -z "$(MANPATH=$root/usr/share/man systemd-analyze verify "$tmp/ferroglade-tunnel.service" 2>&1 || echo failed)" ]'

page=$root/usr/share/man/man8/ferroglade-tunnel.8.gz
check "manual page renders without warnings" '[ -z "$(MANWIDTH=80 man --warnings=w -l "$page" 2>&1 >"$tmp/page")" ]'
check "manual page names the version" 'zgrep -q "^\.TH .*\"ferroglade-tunnel ${version//./\\.}\"" "$page"'
rc=0 && usage=$("$root$bin" 2>&1 </dev/null) || rc=$?
check "manual page shows the usage text" '[ $rc = 2 ] && [ -n "$usage" ] && [[ $(<"$tmp/page") == *"$(sed "s/^/       /" <<<"$usage")"* ]]'

# Only the command word is completed: cword, the words typed, the sorted offers.
while IFS='|' read -r cword words want; do
  got=$(bash --norc -c 'source "$1"; COMP_WORDS=(ferroglade-tunnel $3) COMP_CWORD=$2
    $(complete -p ferroglade-tunnel | sed "s/.*-F \([^ ]*\).*/\1/") && printf "%s\n" "${COMPREPLY[@]}" | sort | xargs' \
    _ "$root/usr/share/bash-completion/completions/ferroglade-tunnel" "$cword" "$words")
  check "completion of word $cword in '$words' gives '$want', not '$got'" '[ "$got" = "$want" ]'
done <<'EOF'
1||down status up
1|s|status
1|x|
2|up|
2|status s|
EOF

# Not uploaded to Debian, so there is no ITP bug to close.
lintian=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -E '^[EW]: ' | grep -v ': initial-upload-closes-no-bugs ' || true)
check "lintian reports no error or unexpected warning: $lintian" '[ -z "$lintian" ]'
echo "debian package: $fails failed"
[ $fails = 0 ]
