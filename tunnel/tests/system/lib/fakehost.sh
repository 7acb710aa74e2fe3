# Fake host for system tests: runs the real binary against fake host tools in
# namespaces of its own. Sourced by tests/system/*_test.sh.
#
# A test script defines case functions and lists them with `fh_case NAME FUNC
# [ARGS]`, then calls `fh_finish`. Every case re-runs the script inside fresh
# `unshare --mount --net --pid --fork --mount-proc --propagation private`
# namespaces, which do nothing but that one case; all mounts vanish when the
# namespace's process 1 exits, also when a case fails or hangs. Inside a case:
#
#   /usr/sbin        tmpfs holding the fake ip, wg, resolvectl (resolvconf on
#                    request: fh_tool), built from fakes/fake-tool.
#   /usr/bin         overlay whose upper layer holds whiteouts for the four
#                    names, so lookup and exec both see ENOENT for the real
#                    copies. (A bind of /dev/null over a tool only fools the
#                    lookup: exec then fails with EACCES.)
#   /sys/class/net   tmpfs; the fake `ip link add` makes ferroglade there.
#   /proc            a fake: tmpfs holding links into the namespace's real proc
#                    (bound at $FH/realproc). /proc/self, /proc/1 to /proc/4999
#                    and the rest are links, so the probes see the real status
#                    file and the real namespace links, and /proc/1/ns/net
#                    equals the binary's own ("same namespace"; fh_run --foreign
#                    adds one `unshare --net` for "foreign"). /proc/net is a
#                    directory of links to self/net/*, so deleting its if_inet6
#                    link (fh_no_ipv6) makes the IPv6 probe answer "absent" in
#                    any network namespace; mounting over /proc/net itself would
#                    only change the mounting process's view. /proc/sys/net/
#                    ipv4/conf/all is a directory of links with a regular file
#                    src_valid_mark (holding "0\n") in place of the kernel's,
#                    so the binary's write is seen byte for byte and the host
#                    setting is never touched; a tmpfs over the real conf/all
#                    would not be seen from a further network namespace.
#                    The broken pipe of a tool that quits before reading its
#                    input needs the writer slowed (fh_run --slow-writes:
#                    strace delays each write), or the writer wins the race.
#   $FH              tmpfs with the rules, the log and the recorded calls.
#
# Every fake run appends one line to $FH/log and keeps argv (NUL-separated),
# stdin, its open descriptors with their targets and PATH under $FH/calls/NNN.

set -u

FH_LIB=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
FH_FAKES=$(cd "$FH_LIB/../fakes" && pwd)
FH_SCRIPT=$(readlink -f "$0")
FH_TOOLS=(ip wg resolvectl resolvconf)
FH_CASE_NO=0
FH_PASSED=0
FH_FAILED=0
FH_CASE_FAILED=0
FH_STATUS=

# Descriptors inherited from whatever started the suite would reach the binary
# and make the stray-descriptor checks meaningless.
fh__close_stray_fds() {
  local f n
  for f in /proc/self/fd/*; do
    n=${f##*/}
    ((n > 2 && n < 255)) || continue
    [[ -e $f ]] || continue
    eval "exec $n>&-"
  done
}
fh__close_stray_fds

fh_skip_suite() {
  printf 'skipped: %s\n' "$1"
  exit 77
}

if [[ -z ${FH_INNER_NO:-} ]]; then
  [[ $(id -u) == 0 ]] || fh_skip_suite "needs root for namespaces"
  [[ -n ${FERROGLADE_TUNNEL:-} && -x ${FERROGLADE_TUNNEL:-} ]] || fh_skip_suite "FERROGLADE_TUNNEL is not an executable"
  command -v unshare >/dev/null || fh_skip_suite "unshare missing"
  unshare --mount --net --pid --fork --mount-proc --propagation private true 2>/dev/null ||
    fh_skip_suite "cannot create namespaces here"
  FERROGLADE_TUNNEL=$(readlink -f "$FERROGLADE_TUNNEL")
  export FERROGLADE_TUNNEL
fi

# ---------------------------------------------------------------- cases ----

# Runs one case in fresh namespaces and prints one line for it.
fh_case() {
  local name=$1
  shift
  FH_CASE_NO=$((FH_CASE_NO + 1))
  if [[ -n ${FH_INNER_NO:-} ]]; then
    [[ $FH_CASE_NO == "$FH_INNER_NO" ]] || return 0
    # Only process 1 of the case's own namespaces may mount over system paths.
    if [[ $$ != 1 ]]; then
      echo "refusing to fake the host outside the case's namespaces"
      exit 2
    fi
    fh__setup_host || {
      echo "fake host setup failed"
      exit 2
    }
    "$@"
    exit $((FH_CASE_FAILED != 0))
  fi
  if [[ -n ${FH_ONLY:-} && $name != *$FH_ONLY* ]]; then
    return 0
  fi
  local dir output rc
  dir=$(mktemp -d /tmp/fakehost.XXXXXX)
  output=$(FH_INNER_NO=$FH_CASE_NO FH=$dir timeout --kill-after=5 120 \
    unshare --mount --net --pid --fork --kill-child --mount-proc --propagation private \
    bash "$FH_SCRIPT" </dev/null 2>&1)
  rc=$?
  # Only the empty mount point is left on the host.
  rmdir "$dir" 2>/dev/null || rm -rf --one-file-system "$dir"
  if ((rc == 0)); then
    FH_PASSED=$((FH_PASSED + 1))
    printf 'ok   - %s\n' "$name"
  else
    FH_FAILED=$((FH_FAILED + 1))
    printf 'FAIL - %s (status %s)\n' "$name" "$rc"
    [[ -n $output ]] && printf '%s\n' "$output" | sed 's/^/       /'
  fi
  return 0
}

fh_finish() {
  [[ -n ${FH_INNER_NO:-} ]] && exit 3
  printf '%s: %d passed, %d failed\n' "$(basename "$FH_SCRIPT" .sh)" "$FH_PASSED" "$FH_FAILED"
  ((FH_FAILED == 0))
}

# ------------------------------------------------------------ the host ----

fh__setup_host() {
  mount -t tmpfs -o mode=0755 fakehost "$FH" || return 1
  mkdir -p "$FH"/{realproc,ovl/upper,ovl/work,calls,rules,state,bin} || return 1
  : >"$FH/log"
  mount --bind /proc "$FH/realproc" || return 1

  mount -t tmpfs -o mode=0755 fakehost-sbin /usr/sbin || return 1
  local t
  for t in "${FH_TOOLS[@]}"; do mknod "$FH/ovl/upper/$t" c 0 0 || return 1; done
  mount -t overlay fakehost-bin -o "lowerdir=/usr/bin,upperdir=$FH/ovl/upper,workdir=$FH/ovl/work" /usr/bin ||
    return 1
  # Non-merged hosts have real /sbin and /bin as well.
  if [[ ! -L /sbin ]]; then mount -t tmpfs -o mode=0755 fakehost-sbin2 /sbin || return 1; fi
  if [[ ! -L /bin ]]; then
    mkdir -p "$FH"/ovl2/{upper,work} || return 1
    for t in "${FH_TOOLS[@]}"; do mknod "$FH/ovl2/upper/$t" c 0 0 || return 1; done
    mount -t overlay fakehost-bin2 -o "lowerdir=/bin,upperdir=$FH/ovl2/upper,workdir=$FH/ovl2/work" /bin || return 1
  fi

  mount -t tmpfs -o mode=0755 fakehost-net /sys/class/net || return 1
  fh__fake_proc || return 1

  fh_tool ip && fh_tool wg && fh_tool resolvectl
}

fh__fake_proc() {
  local real=$FH/realproc
  mount -t tmpfs -o mode=0555 fakehost-proc /proc || return 1
  local e n links=()
  for e in "$real"/*; do
    n=${e##*/}
    case $n in
      [0-9]* | net | sys) ;;
      *) links+=("$e") ;;
    esac
  done
  # Process entries are made ahead, dangling until the process exists:
  # sanitizers and valgrind look up their own by number.
  ln -s -t /proc "${links[@]}" "$real"/{1..4999} || return 1
  # Resolved at access time, so each reader sees its own network namespace.
  mkdir /proc/net || return 1
  links=()
  for e in "$real"/1/net/*; do links+=("$real/self/net/${e##*/}"); done
  ln -s -t /proc/net "${links[@]}" || return 1
  fh__shadow "$real/sys" /proc/sys net ipv4 conf all || return 1
  rm /proc/sys/net/ipv4/conf/all/src_valid_mark && printf '0\n' >/proc/sys/net/ipv4/conf/all/src_valid_mark
}

# Makes FAKE a directory of links to REAL's entries, then recurses into the
# named child so that it becomes a real directory of links too.
fh__shadow() {
  local real=$1 fake=$2
  shift 2
  mkdir -p "$fake" || return 1
  local e links=()
  for e in "$real"/*; do
    [[ $# -gt 0 && ${e##*/} == "$1" ]] && continue
    links+=("$e")
  done
  if ((${#links[@]})); then ln -s -t "$fake" "${links[@]}" || return 1; fi
  if (($# > 0)); then
    local child=$1
    shift
    fh__shadow "$real/$child" "$fake/$child" "$@"
  fi
}

# fh_tool NAME [fake|absent|noexec|dir] [DIR]: installs NAME in DIR (default
# /usr/sbin) as the recording fake, removes it, installs it without execute
# permission, or puts a directory of that name there.
fh_tool() {
  local name=$1 mode=${2:-fake} dir=${3:-/usr/sbin}
  if [[ $dir != /usr/sbin ]] && ! mountpoint -q "$dir"; then
    mount -t tmpfs -o mode=0755 fakehost-extra "$dir" || return 1
  fi
  # Never write into a real system directory.
  [[ $(stat -f -c %T "$dir") == tmpfs ]] || {
    echo "fh_tool: $dir is not the scenario's tmpfs" >&2
    return 1
  }
  if [[ -e $dir/$name || -L $dir/$name ]]; then rm -rf "${dir:?}/$name" || return 1; fi
  case $mode in
    absent) ;;
    dir) mkdir "$dir/$name" ;;
    fake | noexec)
      [[ -v FH_FAKE_BODY ]] || IFS= read -r -d '' FH_FAKE_BODY <"$FH_FAKES/fake-tool"
      printf '#!/bin/bash\nFH=%q\n%s' "$FH" "$FH_FAKE_BODY" >"$dir/$name"
      if [[ $mode == fake ]]; then chmod 0755 "$dir/$name"; else chmod 0644 "$dir/$name"; fi
      ;;
    *)
      echo "fh_tool: unknown mode $mode" >&2
      return 1
      ;;
  esac
}

# fh_when TOOL GLOB [status=N] [stderr=TEXT] [stdout=TEXT] [signal=SIG]
#         [noread] [flood=MIB] [times=N]
# The first rule whose TOOL matches and whose GLOB matches the arguments joined
# by spaces decides what the fake does: print, end with N or by SIG, leave its
# input unread, write MIB MiB to each of stderr and stdout. A failing rule
# skips the fake ip's state change. With times=N the rule applies N times.
fh_when() {
  local n r
  n=$(find "$FH/rules" -mindepth 1 -maxdepth 1 | wc -l)
  printf -v r '%s/rules/%03d' "$FH" $((n + 1))
  mkdir "$r"
  printf '%s\n' "$1" >"$r/tool"
  printf '%s' "$2" >"$r/glob"
  shift 2
  local kv
  for kv in "$@"; do
    case $kv in
      noread) : >"$r/noread" ;;
      stderr=* | stdout=*) printf '%s' "${kv#*=}" >"$r/${kv%%=*}" ;;
      status=* | signal=* | flood=* | times=*) printf '%s\n' "${kv#*=}" >"$r/${kv%%=*}" ;;
      *)
        echo "fh_when: unknown option $kv" >&2
        return 1
        ;;
    esac
  done
}

# State seen by status and down: the link, and how often each rule is installed.
fh_link_present() { mkdir -p /sys/class/net/ferroglade; }
fh_rules_installed() { printf '%s\n' "$3" >"$FH/state/rule$1_$2"; }
fh_rule_count() {
  local count=0
  [[ -f $FH/state/rule$1_$2 ]] && read -r count <"$FH/state/rule$1_$2"
  printf '%s' "$count"
}
# The four rule counts: -4 then -6, each the tunnel rule then the main-table rule.
fh_rule_counts() {
  printf '%s %s %s %s' "$(fh_rule_count -4 32741)" "$(fh_rule_count -4 32740)" \
    "$(fh_rule_count -6 32741)" "$(fh_rule_count -6 32740)"
}
fh_routes() { [[ -f $FH/state/routes ]] && cat "$FH/state/routes"; }

# A host without IPv6: no /proc/net/if_inet6, and every `ip -6` fails.
fh_no_ipv6() {
  rm -f /proc/net/if_inet6
  fh_when ip '-6 *' status=2 stderr=$'RTNETLINK answers: Address family not supported by protocol\n'
}

fh_src_valid_mark() { cat /proc/sys/net/ipv4/conf/all/src_valid_mark; }
# Exact bytes: the binary writes "1" alone; untouched it stays "0\n".
expect_src_valid_mark() { expect_file_eq src_valid_mark /proc/sys/net/ipv4/conf/all/src_valid_mark "$1"; }

# ----------------------------------------------------------- documents ----

# shellcheck disable=SC2034 # used by the test scripts
FH_PRIVATE_KEY=AQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQE=
FH_PEER_KEY=AgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgI=

# fh_config [FIELD=JSON | -FIELD]...: the typical document (full tunnel, DNS
# 10.8.0.1) with fields replaced by raw JSON values or left out.
fh_config() {
  local -A v=(
    [private_key]="\"$FH_PRIVATE_KEY\"" [address]='"10.8.0.2/24"' [dns]='"10.8.0.1"' [mtu]=1420
    [peer_public_key]="\"$FH_PEER_KEY\"" [endpoint]='"198.51.100.7:51820"' [allowed_ips]='["0.0.0.0/0"]'
    [keepalive]=25
  )
  local kv
  for kv in "$@"; do
    if [[ $kv == -* ]]; then unset "v[${kv#-}]"; else v[${kv%%=*}]=${kv#*=}; fi
  done
  local f sep='' doc='{'
  for f in private_key address dns mtu peer_public_key endpoint allowed_ips keepalive; do
    [[ -v v[$f] ]] || continue
    doc+="$sep\"$f\":${v[$f]}"
    sep=,
  done
  printf '%s}\n' "$doc"
}

# fh_lines TEXT...: the non-empty texts, one a line; builds expected logs.
fh_lines() {
  local t
  for t in "$@"; do [[ -z $t ]] || printf '%s\n' "$t"; done
}

# fh_teardown_log T4 M4 T6 M6 [link] [resolvconf]: what one teardown runs when
# the tunnel and main-table rules of each family are installed that often;
# "link" adds the link deletion and "resolvconf" the record removal.
fh_teardown_log() {
  local fams=(-4 -4 -6 -6) specs=("pref 32741 not fwmark 51821 table 51821"
    "pref 32740 table main suppress_prefixlength 0")
  local i n
  for i in 0 1 2 3; do
    n=$((${1:-0} + 1))
    ((n > 8)) && n=8
    shift
    while ((n-- > 0)); do printf 'ip %s rule del %s\n' "${fams[i]}" "${specs[i % 2]}"; done
  done
  local w
  for w in "$@"; do
    case $w in
      link) printf 'ip link del dev ferroglade\n' ;;
      resolvconf) printf 'resolvconf -d tun.ferroglade -f\n' ;;
    esac
  done
}

# fh_device_log ALLOWED [fwmark]: link, peer, address and MTU steps of the
# typical document with allowed-ips ALLOWED.
fh_device_log() {
  local fw=
  [[ ${2:-} == fwmark ]] && fw=" fwmark 51821"
  fh_lines "ip link add ferroglade type wireguard" \
    "wg set ferroglade private-key /dev/stdin$fw peer $FH_PEER_KEY endpoint 198.51.100.7:51820 persistent-keepalive 25 allowed-ips $1" \
    "ip -4 address add 10.8.0.2/24 dev ferroglade" \
    "ip link set dev ferroglade mtu 1420 up"
}

# fh_policy_log FAMILY NETWORK: the default route and the two rules.
fh_policy_log() {
  fh_lines "ip $1 route add $2 dev ferroglade table 51821" \
    "ip $1 rule add not fwmark 51821 table 51821 pref 32741" \
    "ip $1 rule add table main suppress_prefixlength 0 pref 32740"
}

# shellcheck disable=SC2034 # used by the test scripts
{
FH_RULE_DELS=$(fh_teardown_log 0 0 0 0)
FH_DEVICE=$(fh_device_log 0.0.0.0/0 fwmark)
FH_POLICY4=$(fh_policy_log -4 0.0.0.0/0)
FH_RESOLVED=$(fh_lines "resolvectl status" "resolvectl dns ferroglade 10.8.0.1" "resolvectl domain ferroglade ~." \
  "resolvectl default-route ferroglade true")
# The rollback once the link and the IPv4 policy rules exist.
FH_ROLLBACK4=$(fh_teardown_log 1 1 0 0 link)
FH_USAGE=$'usage: ferroglade-tunnel <command>\n  up (config JSON on stdin) | down | status\n'
}

# ---------------------------------------------------------- running it ----

# fh_run [--user] [--foreign] [--slow-writes] [--valgrind FILE] [--stdout-closed]
#        [--stderr-closed] [--stdout-broken] [--env K=V]... [--unset-path] ARGS
# Runs the binary with ARGS and this shell's standard input; its stdout and
# stderr go to $FH/out and $FH/err, its exit status to FH_STATUS. The log and
# the recorded calls start afresh. --user runs it as nobody, --foreign in one
# more network namespace, --slow-writes delays each of its writes by 0.3 s so
# that a tool that quits first has surely closed its input.
fh_run() {
  local user=0 foreign=0 slow=0 nochld=0 valgrind='' out=$FH/out err=$FH/err broken=0
  local envs=()
  while (($#)); do
    case $1 in
      --user) user=1 ;;
      --foreign) foreign=1 ;;
      --slow-writes) slow=1 ;;
      --sigchld-ignored) nochld=1 ;;
      --valgrind)
        valgrind=$2
        shift
        ;;
      --stdout-closed) out=- ;;
      --stderr-closed) err=- ;;
      --stdout-broken) broken=1 ;;
      --env)
        envs+=("$2")
        shift
        ;;
      --unset-path) envs+=(-u PATH) ;;
      *) break ;;
    esac
    shift
  done
  rm -rf "$FH/calls" "$FH/seq"
  mkdir "$FH/calls"
  : >"$FH/log"
  : >"$FH/out"
  : >"$FH/err"

  local binary=$FERROGLADE_TUNNEL
  if ((user)); then
    # The build tree need not be open to nobody.
    [[ -x $FH/bin/ferroglade-tunnel ]] || install -m 0755 "$FERROGLADE_TUNNEL" "$FH/bin/ferroglade-tunnel"
    binary=$FH/bin/ferroglade-tunnel
  fi
  local cmd=("$binary" "$@")
  if [[ -n $valgrind ]]; then
    local kinds=definite,indirect
    cmd=(valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds="$kinds"
      --errors-for-leak-kinds="$kinds" --trace-children=no --log-file="$valgrind" "${cmd[@]}")
  fi
  if ((slow)); then
    cmd=(strace -qq -o /dev/null -e trace=write -e inject=write:delay_enter=300000 "${cmd[@]}")
    # LeakSanitizer cannot run under ptrace.
    envs+=("ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0")
  fi
  # An ignored SIGCHLD survives exec, as some daemons hand it on to what they start.
  ((nochld)) && cmd=(perl -e '$SIG{CHLD} = "IGNORE"; exec @ARGV or die "exec: $!"' "${cmd[@]}")
  ((user)) && cmd=(setpriv --reuid=65534 --regid=65534 --clear-groups "${cmd[@]}")
  ((${#envs[@]})) && cmd=(env "${envs[@]}" "${cmd[@]}")
  ((foreign)) && cmd=(unshare --net "${cmd[@]}")
  cmd=(timeout --kill-after=2 60 "${cmd[@]}")

  local w
  if ((broken)); then
    # A pipe whose only reader has already exited.
    exec {w}> >(:)
    wait $!
    if [[ $err == - ]]; then "${cmd[@]}" 1>&"$w" 2>&-; else "${cmd[@]}" 1>&"$w" 2>"$err"; fi
    FH_STATUS=$?
    exec {w}>&-
  elif [[ $out == - && $err == - ]]; then
    "${cmd[@]}" >&- 2>&-
    FH_STATUS=$?
  elif [[ $out == - ]]; then
    "${cmd[@]}" >&- 2>"$err"
    FH_STATUS=$?
  elif [[ $err == - ]]; then
    "${cmd[@]}" >"$out" 2>&-
    FH_STATUS=$?
  else
    "${cmd[@]}" >"$out" 2>"$err"
    FH_STATUS=$?
  fi
  return 0
}

# The recorded runs of the last fh_run.
fh_calls() { find "$FH/calls" -mindepth 1 -maxdepth 1 -type d | sort; }
fh_call_count() { fh_calls | wc -l; }
# fh_call TOOL [GLOB]: directory of the first run of TOOL whose joined
# arguments match GLOB.
fh_call() {
  local tool=$1 glob=${2:-*} c args
  for c in $(fh_calls); do
    [[ $(cat "$c/tool") == "$tool" ]] || continue
    args=$(tr '\0' ' ' <"$c/argv")
    args=${args% }
    args=${args#"$tool"}
    args=${args# }
    # shellcheck disable=SC2053
    [[ $args == $glob ]] && {
      printf '%s' "$c"
      return 0
    }
  done
  return 1
}
# Descriptor numbers a recorded run had open, space-separated.
fh_call_fds() { cut -d' ' -f1 "$1/fds" | sort -n | tr '\n' ' ' | sed 's/ $//'; }
# Where descriptor FD of a recorded run pointed: null, pipe, or the path.
fh_call_stream() {
  local target
  target=$(awk -v fd="$2" '$1 == fd { $1 = ""; sub(/^ /, ""); print }' "$1/fds")
  case $target in
    /dev/null) echo null ;;
    pipe:*) echo pipe ;;
    "") echo closed ;;
    *) echo "$target" ;;
  esac
}

# True when a recorded run started with the broken-pipe signal ignored.
fh_call_ignores_sigpipe() {
  local mask
  read -r mask <"$1/sigign"
  (((16#$mask >> 12) & 1))
}

# The read position of this shell's descriptor FD, to tell whether the binary
# read from a file it was given.
fh_offset() {
  local key value
  while read -r key value; do
    [[ $key == pos: ]] && printf '%s' "$value"
  done <"/proc/self/fdinfo/$1"
}

# ---------------------------------------------------------- assertions ----

fh__fail() {
  FH_CASE_FAILED=1
  printf '%s\n' "$*"
}

fh__diff() {
  local what=$1 expected=$2 actual=$3
  [[ $expected == "$actual" ]] && return 0
  fh__fail "$what differs:"
  diff -u --label expected --label actual <(printf '%s' "$expected") <(printf '%s' "$actual") | cat -A | sed 's/^/  /'
  return 1
}

expect_eq() { fh__diff "$1" "$2" "$3"; }

expect_status() {
  [[ $FH_STATUS == "$1" ]] || fh__fail "exit status: expected $1, got $FH_STATUS"
}

# Exact bytes, trailing line feeds included.
expect_file_eq() {
  local what=$1 file=$2 expected=$3 actual
  if [[ ! -f $file ]]; then
    fh__fail "$what: $file does not exist"
    return 1
  fi
  actual=$(
    cat "$file"
    printf x
  )
  fh__diff "$what" "$expected" "${actual%x}"
}

expect_stdout() { expect_file_eq stdout "$FH/out" "$1"; }
expect_stderr() { expect_file_eq stderr "$FH/err" "$1"; }

# The command lines the fakes saw in the last run, one a line; the final line
# feed does not matter.
expect_log() { fh__diff "tool log" "$(printf '%s' "$1")" "$(cat "$FH/log")"; }
expect_no_tools() { expect_log ""; }
expect_no_link() { [[ ! -e /sys/class/net/ferroglade ]] || fh__fail "link left behind"; }

# expect_outcome STATUS STDOUT STDERR
expect_outcome() {
  expect_status "$1"
  expect_stdout "$2"
  expect_stderr "$3"
}
