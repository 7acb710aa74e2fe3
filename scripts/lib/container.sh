# shellcheck shell=bash
# A throwaway container with a real systemd as process 1, for checks that need
# a booted systemd. Source it and call container_enter "$@" first: the script
# then runs in a private mount namespace of its own, so every mount below goes
# when it ends. container_make_root lays an overlay over the host's root whose
# upper layer is a tmpfs: nothing written in the container reaches the host.
# container_boot starts systemd in new PID, network, UTS, IPC, cgroup and mount
# namespaces, in a cgroup subtree of its own, with /sys and /proc/sys read-only
# (the container's network settings apart) and a /dev of a few devices.

CONTAINER_WORK=""   # the tmpfs: layers, console log
CONTAINER_ROOT=""   # the container's root as seen from here
CONTAINER_HOLDER="" # the unshare holding the container, by its PID here
CONTAINER_INIT=""   # systemd, process 1 inside, by its PID here
CONTAINER_CGROUP="" # the cgroup subtree the container runs in

container_skip() {
  echo "SKIP: $*" >&2
  exit 77
}

container_fail() {
  echo "FAIL: $*" >&2
  exit 1
}

container_enter() {
  if [ "${CONTAINER_ENTERED:-}" != 1 ]; then
    [ "$(id -u)" -eq 0 ] || container_skip "needs root (namespaces, overlay, cgroups)"
    local tool
    for tool in unshare nsenter setpriv pivot_root /usr/lib/systemd/systemd; do
      command -v "$tool" >/dev/null || container_skip "$tool is not installed"
    done
    CONTAINER_ENTERED=1 exec unshare --mount --propagation private bash "$(readlink -f "$0")" "$@"
  fi
  trap container_cleanup EXIT
  trap 'exit 130' INT TERM
  CONTAINER_WORK=$(mktemp -d /tmp/container.XXXXXX)
  mount -t tmpfs -o mode=0700,size=4g container "$CONTAINER_WORK"
}

# The host's root, writable in the container only, with systemd's image
# conventions undone: maintainer scripts may start and stop units, and the
# machine has an identity of its own (so its journal is its own).
container_make_root() {
  local w=$CONTAINER_WORK
  mkdir -p "$w/upper" "$w/work" "$w/root"
  mount -t overlay -o "lowerdir=/,upperdir=$w/upper,workdir=$w/work" container "$w/root"
  CONTAINER_ROOT=$w/root
  rm -f "$CONTAINER_ROOT/usr/sbin/policy-rc.d"
  tr -d - </proc/sys/kernel/random/uuid >"$CONTAINER_ROOT/etc/machine-id"
  mkdir -p "$CONTAINER_ROOT/var/log/journal"
  # Units that reach outside the container (kernel settings, modules, the
  # clock, file systems) or that only slow the boot down.
  local unit
  for unit in systemd-modules-load.service kmod-static-nodes.service systemd-sysctl.service \
    systemd-binfmt.service proc-sys-fs-binfmt_misc.automount systemd-timesyncd.service \
    systemd-pstore.service systemd-udevd.service systemd-udev-trigger.service \
    systemd-hwdb-update.service sys-kernel-debug.mount sys-kernel-tracing.mount \
    sys-kernel-config.mount sys-fs-fuse-connections.mount dev-hugepages.mount \
    systemd-journald-audit.socket e2scrub_reap.service postgresql.service getty@tty1.service \
    console-getty.service apt-daily.timer apt-daily-upgrade.timer dpkg-db-backup.timer \
    e2scrub_all.timer fstrim.timer man-db.timer; do
    ln -sf /dev/null "$CONTAINER_ROOT/etc/systemd/system/$unit"
  done
}

# The cgroup2 directory the container's subtree goes under: this process's own.
container_cgroup_base() {
  local base
  for base in /sys/fs/cgroup /sys/fs/cgroup/unified; do
    if [ "$(stat -fc %T "$base" 2>/dev/null)" = cgroup2fs ]; then
      echo "$base$(sed -n 's/^0:://p' /proc/self/cgroup)"
      return 0
    fi
  done
  return 1
}

# What runs as process 1 of the new namespaces before it becomes systemd.
# shellcheck disable=SC2016 # expanded by that shell
CONTAINER_INIT_SCRIPT='
set -e
root=$1 console=$2
cd "$root"
mount -t proc proc proc
# Only the network settings are the container'\''s own: the rest are the host'\''s.
mount --bind proc/sys proc/sys
mount -o remount,bind,ro proc/sys
mount --bind proc/sys/net proc/sys/net
mount -o remount,bind,rw proc/sys/net
[ ! -e proc/sysrq-trigger ] || mount --bind -o ro proc/sysrq-trigger proc/sysrq-trigger
mount -t sysfs -o ro sysfs sys
mount -t cgroup2 cgroup2 sys/fs/cgroup
mount -t tmpfs -o mode=0755,nosuid,size=8m dev dev
mknod -m 0666 dev/null c 1 3
mknod -m 0666 dev/zero c 1 5
mknod -m 0666 dev/full c 1 7
mknod -m 0666 dev/random c 1 8
mknod -m 0666 dev/urandom c 1 9
mknod -m 0666 dev/tty c 5 0
mkdir dev/net dev/pts dev/shm
mknod -m 0666 dev/net/tun c 10 200
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts dev/pts
ln -s pts/ptmx dev/ptmx
touch dev/console
mount --bind "$console" dev/console
mkdir -p .oldroot
pivot_root . .oldroot
umount -l /.oldroot
rmdir /.oldroot
exec env -i container=ferroglade-verify /usr/lib/systemd/systemd
'

# Boots the container and returns once systemd has finished starting up.
container_boot() {
  local base console=$CONTAINER_WORK/console.log
  base=$(container_cgroup_base) || container_skip "no writable cgroup2 hierarchy"
  CONTAINER_CGROUP=$base/ferroglade-verify.$$
  mkdir "$CONTAINER_CGROUP"
  : >"$console"
  # The holder dies with this script (pdeathsig) and systemd with the holder
  # (--kill-child); the kernel then ends the rest of the PID namespace.
  # No CAP_SYS_MODULE or CAP_SYS_TIME: those would reach the host.
  # shellcheck disable=SC2094 # the console is only written to
  (
    echo "$BASHPID" >"$CONTAINER_CGROUP/cgroup.procs"
    exec setpriv --pdeathsig KILL --bounding-set -sys_module,-sys_time \
      unshare --pid --net --uts --ipc --cgroup --mount --propagation private --fork --kill-child \
      bash -c "$CONTAINER_INIT_SCRIPT" container-init "$CONTAINER_ROOT" "$console"
  ) </dev/null >>"$console" 2>&1 &
  CONTAINER_HOLDER=$!
  local _ child
  for _ in $(seq 200); do
    child=$(tr -d ' ' 2>/dev/null </proc/"$CONTAINER_HOLDER"/task/"$CONTAINER_HOLDER"/children || true)
    if [ -n "$child" ] && [ "$(basename "$(readlink /proc/"$child"/exe 2>/dev/null)")" = systemd ]; then
      CONTAINER_INIT=$child
      break
    fi
    sleep 0.05
  done
  [ -n "$CONTAINER_INIT" ] || container_fail "systemd did not start: $(tail -5 "$console")"
  local state=""
  for _ in $(seq 120); do
    state=$(container_run systemctl is-system-running 2>/dev/null || true)
    case $state in running | degraded) return 0 ;; esac
    sleep 0.5
  done
  container_fail "the container did not finish booting ($state)"
}

# Runs a command inside the container, with a plain environment.
container_run() {
  nsenter --target "$CONTAINER_INIT" --all --root --wd -- \
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 SYSTEMD_PAGER= SYSTEMD_COLORS=0 "$@"
}

# Powers the container off; fails if it is not gone within SECONDS.
container_poweroff() {
  local seconds=${1:-60} _
  # systemd may drop the connection before it answers.
  container_run systemctl --no-block poweroff 2>/dev/null || true
  for _ in $(seq $((seconds * 10))); do
    kill -0 "$CONTAINER_HOLDER" 2>/dev/null || {
      wait "$CONTAINER_HOLDER" 2>/dev/null || true
      CONTAINER_HOLDER="" CONTAINER_INIT=""
      return 0
    }
    sleep 0.1
  done
  return 1
}

# Removes what the last boot left (its cgroup subtree, its overlay), so that
# container_make_root can lay a fresh root. Reading the old root must be done.
container_discard() {
  container_cleanup_boot
  umount "$CONTAINER_ROOT"
  rm -rf "$CONTAINER_WORK/upper" "$CONTAINER_WORK/work" "$CONTAINER_WORK/root"
}

container_cleanup_boot() {
  if [ -n "$CONTAINER_HOLDER" ]; then
    kill -KILL "$CONTAINER_HOLDER" 2>/dev/null || true
    wait "$CONTAINER_HOLDER" 2>/dev/null || true
  fi
  if [ -n "$CONTAINER_CGROUP" ] && [ -d "$CONTAINER_CGROUP" ]; then
    local _
    # The kernel ends the namespace's processes shortly after its process 1.
    for _ in $(seq 100); do
      [ -z "$(find "$CONTAINER_CGROUP" -name cgroup.procs -exec cat {} + 2>/dev/null)" ] && break
      sleep 0.1
    done
    find "$CONTAINER_CGROUP" -depth -type d -exec rmdir {} + 2>/dev/null || true
    [ ! -d "$CONTAINER_CGROUP" ] || echo "warning: cgroup $CONTAINER_CGROUP left behind" >&2
  fi
  CONTAINER_HOLDER="" CONTAINER_INIT="" CONTAINER_CGROUP=""
}

container_cleanup() {
  container_cleanup_boot
  if [ -n "$CONTAINER_WORK" ]; then
    umount -R "$CONTAINER_WORK" 2>/dev/null || true
    rmdir "$CONTAINER_WORK" 2>/dev/null || true
  fi
}
