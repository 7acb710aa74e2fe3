#!/usr/bin/env bash
# The real binary on a fake host, one table row a case. Each row runs as process 1
# of fresh mount, network and pid namespaces, where /run, /usr/sbin and
# /sys/class/net are tmpfs, the real tools are whited out of /usr/bin, and ip, wg,
# resolvectl and resolvconf are this very script: it records each run under
# /run/fh and behaves as the row's `when` rules say.
# shellcheck disable=SC2034,SC2054 # the table's fields use the names when evaluated
shopt -s extglob nullglob
KEY=AQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQE= PEER=AgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgI=
flood() { head -c $(($1 << 20)) /dev/zero | tr '\0' "$2"; }

# As a tool: one log line (argv, where 0-2 lead, open descriptors, PATH, FH_MARK,
# SIGPIPE ignored or not, blocked signals), argv and input kept in calls/N.TOOL.
fake() {
  local t=${0##*/} c=(/run/fh/calls/*) st=(closed closed closed) fds='' sig=dfl blk='' n v r rule=() status=0
  local d=/run/fh/calls/${#c[@]}.$t
  mkdir "$d" && printf '%s\0' "$t" "$@" >"$d/argv"
  find "/proc/$$/fd" -mindepth 1 -printf '%f %l\n' >"$d/fds" # a child lists ours, not its own
  while read -r n v; do
    ((n == 255)) && continue # bash's own script
    fds+=" $n"
    ((n < 3)) && case $v in /dev/null) st[n]=null ;; pipe:*) st[n]=pipe ;; *) st[n]=$v ;; esac
  done <"$d/fds"
  while read -r n v; do
    case $n in SigIgn:) (((16#$v >> 12) & 1)) && sig=ign ;; SigBlk:) blk=$v ;; esac
  done <"/proc/$$/status"
  printf '%s\t%s\t%s|%s|%s|%s|%s\n' "$t $*" "${st[*]}" "${fds# }" "${PATH-unset}" "${FH_MARK-unset}" "$sig" "$blk" \
    >>/run/fh/log
  while read -r n; do
    eval "r=($n)"
    # shellcheck disable=SC2053 # the rule's pattern
    [[ ${r[0]} == "$t" && "$*" == ${r[1]} ]] && rule=("${r[@]:2}") && break
  done </run/fh/rules
  if [[ " ${rule[*]} " == *" noread "* ]]; then exec 0<&-; else cat >"$d/stdin"; fi
  for n in "${rule[@]}"; do
    case $n in
      status=*) status=${n#*=} ;;
      stdout=*) printf %s "${n#*=}" ;;
      stderr=*) printf %s "${n#*=}" >&2 ;;
      flood=*) flood "${n#*=}" o && exec >&- && flood "${n#*=}" e >&2 && printf end >&2 ;;
      signal=*) kill -s "${n#*=}" $$ ;;
    esac
  done
  ((${#rule[@]})) && exit "$status"
  case "$t $*" in # the host's state, where nothing was scripted
    'ip link add ferroglade type wireguard') mkdir /sys/class/net/ferroglade ;;
    'ip link del dev ferroglade') rmdir /sys/class/net/ferroglade ;;
    'ip -'[46]' rule del '*) echo 'RTNETLINK answers: No such file or directory' >&2 && exit 2 ;;
  esac
}
case ${0##*/} in ip | wg | resolvectl | resolvconf) fake "$@" && exit ;; esac

# Descriptors leaked by whatever started the suite would reach the binary.
for f in "/proc/$$/fd"/*; do
  n=${f##*/}
  ((n > 2 && n < 255)) && eval "exec $n>&-"
done
SELF=$(readlink -f "$0") LOCK=/run/ferroglade-tunnel.lock ROOT=$'error: must run as root (pkexec)\n'
USAGE=$'usage: ferroglade-tunnel <command>\n  up (config JSON on stdin) | down | status\n'
NOV6='RTNETLINK answers: Address family not supported by protocol' EPIPE=$'error: Broken pipe (os error 32)\n'
V6WARN="warning: no IPv6 on this system: ip -6 route add ::/0 dev ferroglade table 51821: $NOV6"$'\n'
NSWARN=$'warning: network namespace: DNS left alone\n' RONULL=$'error: /dev/null: Read-only file system (os error 30)\n'
LINKERR='error: wireguard_module: ip link add ferroglade type wireguard'
NOIP=$'error: wireguard_module: ip: No such file or directory (os error 2)\n'
SHARED=$'warning: /run/fh/in is accessible to other users (mode 0644); it holds the private key\n'
NOKEY=$'error: wg set: `(private key)\' is no key\n'
NOJSON=$'error: config json: EOF while parsing a value at line 1 column 0\n' U=$'\xef\xbf\xbd' # U+FFFD
# Blanks of other scripts round it, a stray byte and a cut character inside; and what the program makes of it.
MESSY=$'\xc2\xa0\xe2\x80\x83first\n bad \xff\xe2\x82x\xe3\x80\x80\n' REPAIRED="$LINKERR: first"$'\n bad '"$U${U}x"$'\n'
doc() {
  printf '{"private_key":"%s","address":"10.8.0.2/24","dns":"10.8.0.1","mtu":1420,"peer_public_key":"%s",' "$1" "$PEER"
  printf '"endpoint":"198.51.100.7:51820","allowed_ips":%s,"keepalive":25}\n' "$2"
}
DOC=$(doc "$KEY" '["0.0.0.0/0"]') DOC6=$(doc "$KEY" '["0.0.0.0/0","::/0"]') PADDED=$(doc " \\t$KEY\\n" '["0.0.0.0/0"]')

# Set-ups. when TOOL GLOB [status=N] [stdout=T] [stderr=T] [signal=S] [noread] [flood=MIB]
when() { printf '%q ' "$@" >>/run/fh/rules && echo >>/run/fh/rules; }
# tool NAME [absent|noexec|DIR]: the fake in /usr/sbin, gone, not executable, or only in DIR.
tool() {
  rm -f "/usr/sbin/$1"
  case ${2-} in
    absent) ;;
    noexec) install -m 644 "$SELF" "/usr/sbin/$1" ;;
    /*) mount -t tmpfs fh-extra "$2" && ln -s "$SELF" "$2/$1" ;;
    *) ln -s "$SELF" "/usr/sbin/$1" ;;
  esac
}
link() { mkdir /sys/class/net/ferroglade; }
rconly() { tool resolvectl absent && tool resolvconf; }
linkfails() { when ip 'link add *' status=1 "$@"; }
# The build tree need not be open to nobody.
user() {
  install -D -m 755 "$BIN" /run/fh/bin/t && BIN=/run/fh/bin/t RUN+=(setpriv --reuid=65534 --regid=65534 --clear-groups)
}
foreign() { RUN+=(unshare --net); }
with() { RUN+=(env "$@"); }
ip_elsewhere() { tool ip /usr/local/sbin && with PATH=/usr/local/sbin:/usr/bin; }
# A caller's own search path, a blocked signal and a variable that every tool must get.
odd_env() { with --block-signal=USR1 PATH=/usr/local/sbin:/opt FH_MARK=kept; }
# closed N...: the program starts with these descriptors closed.
closed() { local n && for n; do REDIR+=" $n>&-"; done; }
stray() { REDIR+=' 5</run/fh/in 9>/run/fh/stray'; }
broken() { exec 7> >(:) && wait $! && REDIR+=' >&7 7>&-'; }
ro_null() { : >/run/fh/nn && mount --bind /run/fh/nn /dev/null && mount -o remount,bind,ro /dev/null; }
# Another run holding the lock for 9 s: returns once it is surely held, however slow the machine.
held() { flock "$LOCK" sleep 9 & until ! flock -n "$LOCK" true; do sleep 0.05; done; }
# The program is killed after N s: a wait for the holder cannot end in time.
bounded() { RUN+=(timeout "$1"); }
planted() { ln -s /run/fh/elsewhere "$LOCK"; }
# The writer usually wins the race against a tool that quits unread; slow it down.
# LeakSanitizer cannot run under ptrace.
slow() {
  export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
  RUN+=(strace -qq -o /dev/null -e trace=write -e inject=write:delay_enter=300000)
}
# A fake /proc without /proc/net/if_inet6, whose src_valid_mark is a plain file.
fakeproc() {
  local p=/run/fh/proc
  mkdir $p && mount --bind /proc $p && mount -t tmpfs fh-proc /proc &&
    ln -s -t /proc $p/!(net|sys|[0-9]*) $p/{1..4999} && mkdir -p /proc/net /proc/sys/net/ipv4/conf/all &&
    printf '0\n' >/proc/sys/net/ipv4/conf/all/src_valid_mark
}
noip6() { fakeproc && when ip '-6 *' status=2 stderr="$NOV6"; }
unreadable_1() { fakeproc && rm /proc/1 && ln -s /nowhere /proc/1; }
vg() {
  grep -qa __asan_init "$BIN" && skip "valgrind cannot run a sanitizer build"
  command -v valgrind >/dev/null || skip "no valgrind"
  RUN+=(valgrind -q --vgdb=no --log-fd=2 --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect
    --errors-for-leak-kinds=definite,indirect)
}

# Checks.
bad() { FAILED=1 && printf '%s\n' "$*" | cut -c1-300; }
same() {
  printf %s "$2" | cmp -s - "$3" && return
  bad "$1 differs (< expected, > got):"
  diff <(printf %s "$2") "$3" | cut -c1-200 | cat -A | head -20
}
unread() { grep -q '^pos:[[:space:]]*0$' /proc/$$/fdinfo/3 || bad "standard input was read"; }
# streams GLOB EXPECTED: where 0-2 of the first run whose argv matches GLOB led.
streams() {
  local c s r
  # shellcheck disable=SC2053
  while IFS=$'\t' read -r c s r; do [[ $c == $1 ]] && { same "streams of $c" "$2" <(printf %s "$s"); return; }; done \
    </run/fh/log
  bad "no run of $1"
}
inherit() {
  local c s r
  while IFS=$'\t' read -r c s r; do
    [[ $r == '0 1 2|/usr/sbin:/usr/bin:/sbin:/bin|kept|dfl|0000000000000000' ]] || bad "$c started with $r"
  done </run/fh/log
  streams 'ip link add *' 'null pipe pipe'; streams 'ip -4 rule del *' 'null null null'
  streams 'wg *' 'pipe null pipe'; streams 'resolvconf -a *' 'pipe /run/fh/out /run/fh/err'
}
rcnull() { streams 'resolvconf -a *' 'pipe null null'; }
key() {
  same "wg input" "$KEY"$'\n' /run/fh/calls/*.wg/stdin
  ! grep -qF "$KEY" /run/fh/calls/*/argv || bad "the key on a command line"
}
mark() { same src_valid_mark 1 /proc/sys/net/ipv4/conf/all/src_valid_mark; }
# Root's own regular file that no other user may take, or it could hold up and down back.
lock() {
  [[ -f $LOCK && ! -L $LOCK && $(stat -c %u:%a "$LOCK") == 0:600 ]] || bad "no lock file of root's with mode 0600"
  ! setpriv --reuid=65534 flock -n "$LOCK" true 2>/dev/null || bad "nobody can take the lock"
}
unfollowed() { [[ ! -e /run/fh/elsewhere ]] || bad "the planted link was followed"; }

skip() { echo "$*" && exit 77; }
# Each step only once the one before it worked: nothing may land on the real host.
host() {
  mount -t tmpfs -o mode=0755 fh-run /run && mkdir -p /run/fh/{calls,u,w} && : >/run/fh/rules && : >/run/fh/log || return
  for t in ip wg resolvectl resolvconf; do mknod "/run/fh/u/$t" c 0 0 || return; done
  mount -t overlay fh-bin -o lowerdir=/usr/bin,upperdir=/run/fh/u,workdir=/run/fh/w /usr/bin &&
    mount -t tmpfs fh-sbin /usr/sbin && mount -t tmpfs fh-net /sys/class/net && tool ip && tool wg && tool resolvectl
}
# One row, as process 1 of its own namespaces, so that all it mounts goes with it.
run_case() {
  local name setup args input status out err check a i got
  IFS='|' read -r name setup args input status out err check <<<"$1"
  ((BASHPID == 1)) || { echo "not process 1 of new namespaces: refusing to mount" && exit 2; }
  BIN=$FERROGLADE_TUNNEL RUN=() REDIR='' FAILED=0 && umask 022
  host && eval "$setup" || { echo "set-up failed" && exit 2; }
  eval "a=($args) i=($input)"
  printf %s "${i[0]-}" >/run/fh/in && chmod "${INMODE-600}" /run/fh/in && exec 3</run/fh/in
  eval '"${RUN[@]}" "$BIN" "${a[@]}" <&3 3<&- >/run/fh/out 2>/run/fh/err' "$REDIR"
  got=$?
  eval "status=($status) out=($out) err=($err)"
  [[ $got == "${status[0]}" ]] || bad "exit status $got, expected ${status[0]}"
  same stdout "${out[0]-}" /run/fh/out && same stderr "${err[0]-}" /run/fh/err
  eval "$check"
  exit "$FAILED"
}
[[ ${1-} == --case ]] && run_case "$2"

[[ $(id -u) == 0 ]] || skip "needs root"
[[ -x ${FERROGLADE_TUNNEL-} ]] || skip "FERROGLADE_TUNNEL is not a program"
[[ -L /sbin && -L /bin ]] || skip "needs a merged /usr"
NS=(unshare --mount --net --pid --fork --kill-child --mount-proc --propagation private)
"${NS[@]}" true 2>/dev/null || skip "cannot make namespaces here"
FERROGLADE_TUNNEL=$(readlink -f "$FERROGLADE_TUNNEL") && export FERROGLADE_TUNNEL
passed=0 failed=0 skipped=0
while IFS= read -r row; do
  name=${row%%|*} && name=${name%%*( )}
  [[ -n $name && $name != \#* ]] || continue
  output=$(timeout -k 5 30 "${NS[@]}" bash "$SELF" --case "$row" </dev/null 2>&1)
  rc=$?
  case $rc in
    0) passed=$((passed + 1)) && echo "ok   - $name" ;;
    77) skipped=$((skipped + 1)) && echo "skip - $name: $output" ;;
    *) failed=$((failed + 1)) && echo "FAIL - $name (status $rc)" && sed 's/^/       /' <<<"$output" ;;
  esac
done <<'TABLE'
# name | set-up | arguments | standard input | status | standard output | standard error | check
no command word, input unread | | | "$DOC" | 2 | | "$USAGE" | unread
UP is no command | | UP | | 2 | | "$USAGE" |
--help is no command | | --help | | 2 | | "$USAGE" |
'up ' is no command | | 'up ' | | 2 | | "$USAGE" |
status ignores further words | link | status extra args | | 0 | $'up\n' | |
status as nobody, link present | link; user | status | | 0 | $'up\n' | |
status as nobody, link absent | user | status | | 0 | $'down\n' | |
up refused as nobody, input unread | user | up | "$DOC" | 1 | | "$ROOT" | unread
down refused as nobody, input unread | link; user | down | "$DOC" | 1 | | "$ROOT" | unread
up with standard input closed | closed 0 | up | | 1 | | "$NOJSON" |
status with standard output and error closed | link; closed 1 2 | status | | 0 | | |
status into a pipe nobody reads | broken | status | | 1 | | $'error: standard output: Broken pipe (os error 32)\n' |
down started with SIGCHLD ignored | link; with --ignore-signal=CHLD | down | | 0 | | | lock
down waits for a run holding the lock | held; bounded 1 | down | | 124 | | |
status never waits for the lock | held; bounded 3 | status | | 0 | $'down\n' | |
a link planted as the lock is not followed | planted | down | | 0 | | | unfollowed
what tools inherit, stray descriptors given | rconly; odd_env; stray | up | "$DOC" | 0 | | | inherit
what tools inherit, PATH unset | rconly; with -u PATH FH_MARK=kept | up | "$DOC" | 0 | | | inherit
streams closed at start reach resolvconf as /dev/null | rconly; closed 1 2 | up | "$DOC" | 0 | | | rcnull
the key only on wg's input, trimmed | | up | "$PADDED" | 0 | | | key
a document others can read | INMODE=644 | up | "$DOC" | 0 | | "$SHARED" |
a tool flooding both pipes | linkfails flood=2 | up | "$DOC" | 1 | | "$LINKERR: $(flood 2 e)end"$'\n' |
ip only outside the search path | ip_elsewhere | up | "$DOC" | 1 | | "$NOIP" |
wg not executable | tool wg noexec | up | "$DOC" | 1 | | $'error: Permission denied (os error 13)\n' |
resolvectl not executable: resolvconf | tool resolvectl noexec; tool resolvconf | up | "$DOC" | 0 | | |
a tool killed by a signal | linkfails stderr=dying signal=KILL | up | "$DOC" | 1 | | "$LINKERR: dying"$'\n' |
stderr trimmed and repaired, stdout unseen | linkfails stdout=noise stderr="$MESSY" | up | "$DOC" | 1 | | "$REPAIRED" |
a complaint cut inside a character | linkfails stderr=$'cut \xe2\x82' | up | "$DOC" | 1 | | "$LINKERR: cut $U"$'\n' |
wg quitting before it reads the key | slow; when wg '*' noread status=1 | up | "$DOC" | 1 | | "$EPIPE" |
wg refusing, quoting the key | when wg '*' status=1 stderr=" \`$KEY' is no key" | up | "$DOC" | 1 | | "$NOKEY" |
resolvconf quitting before its input | slow; rconly; when resolvconf '-a *' noread | up | "$DOC" | 1 | | "$EPIPE" |
no /dev/null for a closed descriptor | ro_null; closed 0 | status | | 1 | | "$RONULL" |
a host without IPv6 | noip6 | up | "$DOC6" | 0 | | "$V6WARN" | mark
a foreign network namespace | foreign | up | "$DOC" | 0 | | "$NSWARN" |
process 1's namespace unreadable | unreadable_1 | up | "$DOC" | 0 | | "$NSWARN" |
up under memcheck | vg | up | "$DOC" | 0 | | |
down under memcheck | link; vg | down | | 0 | | |
TABLE
echo "fakehost: $passed passed, $failed failed, $skipped skipped"
((failed == 0))
