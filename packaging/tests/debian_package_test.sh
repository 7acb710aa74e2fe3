#!/usr/bin/env bash
# Builds the Debian package from a copy of the tracked files and checks what its users see: files,
# owners and modes, control fields, maintainer scripts, hardening, the polkit action, systemd unit,
# manual page, completion and lintian. Usage: SOURCE_DIR VERSION
# shellcheck disable=SC2016,SC2034 # the checks are code, expanded when they run
set -euo pipefail
export LC_ALL=C.UTF-8
for t in git dpkg-buildpackage dh dpkg-deb hardening-check xmllint man lintian systemd-analyze; do
  command -v $t >/dev/null || { echo "skipped: no $t" >&2; exit 77; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0
check() { eval "$2" || { echo "FAIL $1"; fails=$((fails + 1)); }; } # name, condition
# dpkg-buildpackage writes next to the tree it builds, so it builds a copy.
mkdir "$tmp/src"
git -C "$1" ls-files -z | (cd "$1" && xargs -0 cp --parents -t "$tmp/src")
(cd "$tmp/src" && dpkg-buildpackage -us -uc -b) >"$tmp/log" 2>&1 || { cat "$tmp/log"; exit 1; }
version=$2 arch=$(dpkg --print-architecture) root=$tmp/root ctrl=$tmp/control bin=/usr/sbin/ferroglade-tunnel
deb=$tmp/ferroglade-tunnel_$version-1_$arch.deb
dpkg-deb -x "$deb" "$root" && dpkg-deb -e "$deb" "$ctrl"
check "the build warns of nothing: $(grep 'warning: ' "$tmp/log")" '! grep -q "warning: " "$tmp/log"'
check "a debug symbols package" '[ -f "$tmp/ferroglade-tunnel-dbgsym_$version-1_$arch.deb" ]'

# Every other directory is root's and 0755, so only the files are listed.
listing() { dpkg-deb -c "$deb" | awk '!/^d/ || $1 $2 != "drwxr-xr-xroot/root" { print $1, $2, $6 }' | sort -k3; }
check "files, owners and modes" 'diff -u - <(listing)' <<EOF
drwx------ root/root ./etc/ferroglade-tunnel/
-rw-r--r-- root/root ./lib/systemd/system/ferroglade-tunnel.service
-rwxr-xr-x root/root .$bin
-rw-r--r-- root/root ./usr/share/bash-completion/completions/ferroglade-tunnel
-rw-r--r-- root/root ./usr/share/doc/ferroglade-tunnel/changelog.Debian.gz
-rw-r--r-- root/root ./usr/share/doc/ferroglade-tunnel/copyright
-rw-r--r-- root/root ./usr/share/lintian/overrides/ferroglade-tunnel
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
Depends: libc6, libgcc-s1, libstdc++6, iproute2, wireguard-tools
Recommends: systemd-resolved | openresolv
Suggests: pkexec
EOF
# Enabled only where an administrator enabled it, never restarted, stopped on removal, forgotten on purge.
units() { grep -H -o -E 'deb-systemd-(helper|invoke)( --quiet)? [a-z-]+|"\$1" = remove' "$ctrl"/*inst "$ctrl"/*rm | sed "s|^$ctrl/||" | uniq; }
check "systemd in the maintainer scripts" 'diff -u - <(units)' <<'EOF'
postinst:deb-systemd-helper debian-installed
postinst:deb-systemd-helper unmask
postinst:deb-systemd-helper --quiet was-enabled
postinst:deb-systemd-helper enable
postinst:deb-systemd-helper update-state
postinst:deb-systemd-invoke start
postrm:"$1" = remove
postrm:deb-systemd-helper purge
prerm:"$1" = remove
prerm:deb-systemd-invoke stop
EOF

hardening=$(hardening-check "$root$bin" || true)
for property in "Position Independent Executable" "Stack protected" "Fortify Source functions" "Read-only relocations" \
  "Immediate binding"; do
  check "hardening: $property" 'grep -q "^ $property: yes" <<<"$hardening"'
done

xpath() { xmllint --xpath "string($1)" "$root/usr/share/polkit-1/actions/org.ferroglade.tunnel.policy"; }
check "polkit runs the packaged binary" '[ "$(xpath "//annotate[@key=\"org.freedesktop.policykit.exec.path\"]")" = $bin ] && [ -x "$root$bin" ]'
check "polkit asks for an administrator" '[ "$(xpath //allow_any) $(xpath //allow_inactive) $(xpath //allow_active)" = "auth_admin auth_admin auth_admin_keep" ]'

# With the packaged binary and manual page standing in for installed ones.
sed "s|=$bin |=$root$bin |" "$root/lib/systemd/system/ferroglade-tunnel.service" >"$tmp/ferroglade-tunnel.service"
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
lintian=$(lintian --tag-display-limit 0 "$tmp/ferroglade-tunnel_$version-1_$arch.changes" 2>&1 | grep -E '^[EW]: ' | grep -v ': initial-upload-closes-no-bugs ' || true)
check "lintian reports no error or unexpected warning: $lintian" '[ -z "$lintian" ]'
echo "debian package: $fails failed"
[ $fails = 0 ]
