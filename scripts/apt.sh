# shellcheck shell=bash
# Sourced by the scripts that run apt-get (setup.sh, boot-check.sh); not run on its own.
# apt's daily jobs, unattended-upgrades or a person often hold the dpkg lock for a minute or two
# after a machine boots. apt_get waits for the lock, up to FERRYD_APT_LOCK_WAIT seconds (default
# 600), and when it is still held then, says which process holds it.

apt_lock_wait=${FERRYD_APT_LOCK_WAIT:-600}
apt_lock_retry=${apt_lock_retry:-5}  # seconds between tries while a lock is held
# What apt-get says when another process holds a lock (it runs in the C locale here).
apt_lock_error='Could not get lock|Unable to acquire the dpkg frontend lock|Unable to lock'

# The processes that hold apt's or dpkg's locks (from /proc/locks, so no fuser or lsof is needed),
# then every apt or dpkg process running, one a line: "  PID NAME: COMMAND LINE". RUNNER looks
# at the lock files (a container's are its own).
apt_lock_holders() {
  local lock inode pid dir comm pids=" "
  for lock in /var/lib/dpkg/lock-frontend /var/lib/dpkg/lock /var/lib/apt/lists/lock \
    /var/cache/apt/archives/lock; do
    inode=$("$@" stat -c %i "$lock" 2>/dev/null) || continue
    for pid in $(awk -v i=":$inode" '$2 != "->" && $0 ~ i " " {print $5}' /proc/locks); do
      case "$pids" in *" $pid "*) ;; *) pids+="$pid " ;; esac
    done
  done
  for dir in /proc/[0-9]*; do
    comm=$(cat "$dir/comm" 2>/dev/null) || continue
    case "$comm" in
      apt | apt-get | apt-check | aptitude | dpkg | unattended-upgr* | packagekitd | synaptic*)
        case "$pids" in *" ${dir#/proc/} "*) ;; *) pids+="${dir#/proc/} " ;; esac ;;
    esac
  done
  for pid in $pids; do
    echo "  $pid $(cat "/proc/$pid/comm" 2>/dev/null): $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"
  done
}

# apt_get [RUNNER...] -- ARGUMENT...: runs "RUNNER apt-get ARGUMENT..." (RUNNER: sudo, or what
# enters a container; none to run it here) non-interactively, waiting for the lock. apt-get's
# own status when it fails for another reason, 1 when the lock stayed held.
apt_get() {
  local runner=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do runner+=("$1"); shift; done
  shift
  local log deadline=$((SECONDS + apt_lock_wait)) told=0 rc who=${0##*/}
  who=${who%.sh}
  log=$(mktemp)
  while :; do
    rc=0
    # DPkg::Lock::Timeout makes apt-get itself wait for dpkg's lock; the loop also covers the
    # package lists' lock (apt-get update), which that option does not.
    "${runner[@]}" env LC_ALL=C DEBIAN_FRONTEND=noninteractive apt-get \
      -o DPkg::Lock::Timeout="$((deadline - SECONDS > 0 ? deadline - SECONDS : 0))" "$@" \
      2>"$log" || rc=$?
    if [ "$rc" -eq 0 ] || ! grep -qE "$apt_lock_error" "$log"; then
      cat "$log" >&2
      rm -f "$log"
      return "$rc"
    fi
    [ "$SECONDS" -lt "$deadline" ] || break
    if [ "$told" = 0 ]; then
      echo "$who: apt-get waits up to $apt_lock_wait s for the package manager's lock" >&2
      told=1
    fi
    sleep "$apt_lock_retry"
  done
  cat "$log" >&2
  rm -f "$log"
  echo "$who: the package manager's lock is still held after $apt_lock_wait s (FERRYD_APT_LOCK_WAIT);" \
    "wait for it or stop what holds it, then run this again. Holding it or using apt now:" >&2
  apt_lock_holders "${runner[@]}" | grep . >&2 || echo "  no process found" >&2
  return 1
}
