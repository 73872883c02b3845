#!/usr/bin/env bash
# Installs the Debian package into a booted Debian 12 (systemd as PID 1 in systemd-nspawn) and
# uses it there as an integrator would: the unit's user and sandbox, the journal, the library
# packages (libferry1, libferry-dev, python3-ferry), the relay through the installed daemon under
# its real sandbox (the installed ferrycat at both ends, then the installed Python echo peer at
# the air side; the module stand-in inside the container), the device allow-list, restart on a
# crash, a quick stop, the watchdog when the unit has one, upgrade, remove and purge.
# Usage: scripts/boot-check.sh [amd64|armhf]   (default amd64; armhf runs under qemu-user)
# Needs the packages (scripts/package.sh) and ferryd-boot-peer (a build with the tests:
# build/normal, or build/armhf from scripts/cross.sh). The minimal root is cached as a tarball in
# build/boot/; every run boots a fresh copy of it. On a machine without systemd-nspawn or cgroup2
# it says so in one line and exits 0. The host must not run systemd itself (CI's does not): the
# container's cgroups are made by hand below the launching shell's own.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/apt.sh  # apt_get: waits for the package manager's lock (the container's daily apt jobs)
arch=${1:-amd64}
case "$arch" in
  amd64 | armhf) ;;
  *) echo "boot-check: unknown architecture $arch (amd64 or armhf)" >&2; exit 2 ;;
esac
version=$(sed -n 's/^project(ferryd VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
lib_version=$(sed -n 's/^set(FERRY_VERSION \([0-9.]*\))/\1/p' CMakeLists.txt)
deb=build/packages/ferryd_${version}_$arch.deb
# The library packages: the C library, its development files and the Python package on it.
lib_debs=("build/packages/libferry1_${lib_version}_$arch.deb" "build/packages/libferry-dev_${lib_version}_$arch.deb"
  "build/packages/python3-ferry_${version}_all.deb")
peer=build/normal/bench/boot/ferryd-boot-peer
[ "$arch" = amd64 ] || peer=build/$arch/bench/boot/ferryd-boot-peer
work=$PWD/build/boot
mkdir -p "$work"

# --- Can this machine do it at all? ---------------------------------------------------------
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "boot-check: skipped: needs root (no sudo here)"; exit 0; }
  exec sudo bash "$0" "$@"
fi
unified=
if [ "$(stat -f -c %T /sys/fs/cgroup/unified 2>/dev/null)" = cgroup2fs ]; then
  unified=/sys/fs/cgroup/unified
elif [ "$(stat -f -c %T /sys/fs/cgroup 2>/dev/null)" = cgroup2fs ]; then
  unified=/sys/fs/cgroup
fi
if [ -z "$unified" ]; then
  echo "boot-check: skipped: no cgroup2 hierarchy on this machine (systemd cannot boot in a container)"
  exit 0
fi
if [ -d /run/systemd/system ]; then
  echo "boot-check: skipped: this machine runs systemd itself (the check makes the container's cgroups by hand)"
  exit 0
fi
pkgs=(mmdebstrap systemd-container)
[ "$arch" = amd64 ] || pkgs+=(qemu-user-static arch-test)
bash scripts/setup.sh "${pkgs[@]}"
if ! command -v systemd-nspawn >/dev/null; then
  echo "boot-check: skipped: no systemd-nspawn on this machine"
  exit 0
fi
for f in "$deb" "${lib_debs[@]}"; do
  [ -f "$f" ] || { echo "boot-check: no $f (run scripts/package.sh $arch)" >&2; exit 1; }
done
[ -x "$peer" ] || { echo "boot-check: no $peer (build with the tests)" >&2; exit 1; }

# --- Timing and outcome -----------------------------------------------------------------------
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }  # seconds since $1
t_all=$(now)
t_part=$t_all
part() {  # the time of the part just finished
  printf 'boot-check: time %-44s %6.1f s\n' "$1" "$(since "$t_part")"
  t_part=$(now)
}
pass() { echo "boot-check: ok   $*"; }
fail() {
  echo "boot-check: FAILED: $*" >&2
  if [ -n "${pid1:-}" ]; then
    echo "--- journal of ferryd.service (last 40 lines)" >&2
    in_ct journalctl -u ferryd --no-pager -o short-precise 2>&1 | tail -40 >&2 || true
  fi
  exit 1
}

# --- The container and its clean-up -----------------------------------------------------------
machine=ferryd-boot-$arch
root=$work/run-$arch
cg=ferryd-boot-$$
nspawn_pid=
pid1=
peer_pid=
echo_pid=
binfmt_held=
cleanup() {
  local rc=$? n
  for n in $peer_pid $echo_pid; do  # nsenter and, below it, the programs inside the container
    for p in $(pgrep -P "$n"); do kill -KILL "$p" 2>/dev/null || true; done
    kill -KILL "$n" 2>/dev/null || true
  done
  if [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
    # The container powers off (about a second; under emulation it can hang in rescue mode).
    kill -TERM "$nspawn_pid" 2>/dev/null || true
    for _ in $(seq 1 100); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.1; done
  fi
  # Still the container's init (systemd, or systemd-shutdown stuck), not a process that took its id.
  if [ -n "$pid1" ] && [[ "$(cat "/proc/$pid1/comm" 2>/dev/null)" == systemd* ]]; then
    kill -KILL "$pid1" 2>/dev/null || true  # the container's init: everything in it ends
    for _ in $(seq 1 50); do kill -0 "$pid1" 2>/dev/null || break; sleep 0.1; done
  fi
  if [ -n "$nspawn_pid" ]; then
    kill -KILL "$nspawn_pid" 2>/dev/null || true
    wait "$nspawn_pid" 2>/dev/null || true
  fi
  local d
  for d in "$unified/$cg" /sys/fs/cgroup/systemd/$cg; do
    [ -d "$d" ] && find "$d" -depth -type d -exec rmdir {} + 2>/dev/null
    [ -d "$d" ] && echo "boot-check: cgroup $d left behind" >&2
  done
  if [ -n "$binfmt_held" ]; then
    kill "$binfmt_held" 2>/dev/null || true
    wait "$binfmt_held" 2>/dev/null || true  # it sits in the mount, which is busy until it ends
    umount /proc/sys/fs/binfmt_misc || echo "boot-check: binfmt_misc left mounted" >&2
  fi
  if findmnt -rn -o TARGET | grep -q "^$root"; then umount -R "$root" 2>/dev/null || true; fi
  rm -rf "$root"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
# One run per architecture at a time: they share the root's folder.
exec 9>"$work/lock-$arch"
flock 9

in_ct() { nsenter -t "$pid1" -a "$@"; }

# armhf: the root's programs run through qemu-user, registered with binfmt_misc. The
# registrations live as long as the mount, so a process holds it for the run.
if [ "$arch" != amd64 ]; then
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    (cd /proc/sys/fs/binfmt_misc && exec sleep infinity) &
    binfmt_held=$!
  fi
  # The package's own registration line; its F flag opens the emulator now, so it also runs
  # programs inside the container.
  [ -e /proc/sys/fs/binfmt_misc/qemu-arm ] ||
    grep -v '^#' /usr/lib/binfmt.d/qemu-arm.conf >/proc/sys/fs/binfmt_misc/register
fi

# --- The root: a minimal bookworm with systemd, cached as a tarball ----------------------------
# The machine's own apt sources, so no mirror is named here.
sources=
for f in /etc/apt/sources.list.d/*.sources /etc/apt/sources.list; do
  [ -s "$f" ] && { sources=$f; break; }
done
[ -n "$sources" ] || fail "no apt sources file on this machine"
# python3 for python3-ferry and its echo peer, pkgconf to read libferry's pkg-config file.
include=systemd,systemd-sysv,dbus,adduser,liblog4cpp5v5,init-system-helpers,python3,pkgconf
tarball=$work/root-$arch.tar
stamp="$arch $include $(md5sum <"$sources")"
if [ ! -f "$tarball" ] || [ "$(cat "$tarball.stamp" 2>/dev/null)" != "$stamp" ]; then
  rm -f "$tarball" "$tarball.stamp"
  mmdebstrap --quiet --format=tar --variant=minbase --architectures="$arch" --include="$include" \
    bookworm "$tarball.new" "$sources"
  mv "$tarball.new" "$tarball"
  echo "$stamp" >"$tarball.stamp"
  part "root made ($(du -m "$tarball" | cut -f1) MB)"
fi
rm -rf "$root"
mkdir -p "$root"
tar -C "$root" -xf "$tarball"
# Every Debian system has one; without it "localhost" goes to DNS, which the unit blocks.
printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >"$root/etc/hosts"
echo "$machine" >"$root/etc/hostname"
mkdir -p "$root/root/boot"
cp "$deb" "${lib_debs[@]}" "$peer" "$root/root/boot/"
part "root unpacked ($(du -sm "$root" | cut -f1) MB)"

# --- Boot -------------------------------------------------------------------------------------
# The launching shell sits in a cgroup of its own in both hierarchies, so nspawn's land below it.
# The unified hierarchy and the BPF system call filter are what make DeviceAllow= and
# IPAddressAllow= hold inside; the container has a network of its own (loopback only).
mkdir -p "$unified/$cg"
[ -d /sys/fs/cgroup/systemd ] && mkdir -p "/sys/fs/cgroup/systemd/$cg"
(
  echo "$BASHPID" >"$unified/$cg/cgroup.procs"
  [ -d /sys/fs/cgroup/systemd ] && echo "$BASHPID" >"/sys/fs/cgroup/systemd/$cg/cgroup.procs"
  exec env SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1 systemd-nspawn --quiet --boot --directory="$root" \
    --machine="$machine" --register=no --keep-unit --system-call-filter=bpf --private-network \
    --console=passive
) >"$work/nspawn-$arch.log" 2>&1 &
nspawn_pid=$!
for _ in $(seq 1 100); do
  pid1=$(pgrep -P "$nspawn_pid" -x systemd || true)
  [ -n "$pid1" ] && break
  sleep 0.1
done
[ -n "$pid1" ] || { pid1=; cat "$work/nspawn-$arch.log" >&2; fail "systemd did not start in the container"; }
# Until the manager's bus is up, systemctl cannot ask it.
for _ in $(seq 1 600); do
  state=$(in_ct systemctl is-system-running 2>&1 || true)
  case "$state" in running | degraded | maintenance | stopping) break ;; esac
  sleep 0.1
done
failed=$(in_ct systemctl --failed --no-legend --plain 2>&1 | awk '{ print $1 }' | xargs)
if [ "$state" = degraded ] && [ "$arch" != amd64 ]; then
  # qemu-user cannot do what systemd's credentials need ("Failed to set up credentials").
  echo "boot-check: note under emulation these units fail at boot: $failed"
elif [ "$state" != running ]; then
  fail "the container's system is $state: $failed"
fi
if [ "$arch" != amd64 ]; then
  # qemu-user does not emulate the IPC namespace set-up ("Failed to set up IPC namespacing",
  # status 226/NAMESPACE); a board does. A drop-in here only, and said so.
  in_ct mkdir -p /etc/systemd/system/ferryd.service.d
  printf '[Service]\nPrivateIPC=no\n' | in_ct sh -c 'cat >/etc/systemd/system/ferryd.service.d/emulator.conf'
  echo "boot-check: note under emulation the unit runs with a drop-in: PrivateIPC=no"
fi
part "booted (system $state)"

# --- 1. Install, with the module already there, as on a board --------------------------------
nsenter -t "$pid1" -a /root/boot/ferryd-boot-peer /dev/ttyS5 >"$work/peer-$arch.log" 2>&1 &
peer_pid=$!
# Up to 30 s: on a loaded machine entering the freshly booted container alone has taken over 10.
for _ in $(seq 1 300); do grep -q "serving" "$work/peer-$arch.log" && break; sleep 0.1; done
grep -q "serving" "$work/peer-$arch.log" || { cat "$work/peer-$arch.log" >&2; fail "the module stand-in did not start"; }
apt_get in_ct -- install -y -q "/root/boot/$(basename "$deb")" \
  </dev/null >"$work/install-$arch.log" 2>&1 || { cat "$work/install-$arch.log" >&2; fail "apt-get install"; }
part "installed with apt"
show() { in_ct systemctl show -P "$1" ferryd; }
[ "$(in_ct dpkg-query -W -f='${Status}' ferryd)" = "install ok installed" ] || fail "dpkg status"
in_ct getent passwd ferryd >/dev/null || fail "no user ferryd"
[ "$(in_ct systemctl is-enabled ferryd)" = enabled ] || fail "unit not enabled"
[ "$(show ActiveState)" = active ] || fail "unit $(show ActiveState)"
pid=$(show MainPID)
status=$(in_ct cat "/proc/$pid/status")
field() { echo "$status" | awk -v k="$1:" '$1 == k { print $2 }'; }
uid=$(in_ct id -u ferryd)
[ "$(field Uid)" = "$uid" ] || fail "the daemon runs as uid $(field Uid), not ferryd ($uid)"
for c in CapInh CapPrm CapEff CapBnd CapAmb; do
  [ "$(field "$c")" = 0000000000000000 ] || fail "$c $(field "$c")"
done
[ "$(field NoNewPrivs)" = 1 ] || fail "NoNewPrivs $(field NoNewPrivs)"
[ "$(field Seccomp)" = 2 ] || fail "no system call filter (Seccomp $(field Seccomp))"
pass "installed: user ferryd, unit enabled and active, pid $pid runs as ferryd with no capabilities, no new privileges, seccomp filter"

# --- 2. Start-up lines in the journal as they happen ------------------------------------------
# The journal's arrival time against the daemon's own time stamp in the line.
line=
for _ in $(seq 1 50); do
  line=$(in_ct journalctl -u ferryd -o short-unix --no-pager --grep 'Configuration read from /etc/qmx/ferryd.conf' 2>/dev/null | tail -1)
  [ -n "$line" ] && break
  sleep 0.1
done
[ -n "$line" ] || fail "no start-up line in the journal"
arrived=$(echo "$line" | awk '{ print $1 }')
stamped=$(date -u -d "$(echo "$line" | awk '{ print $4, $5 }' | tr , .)" +%s.%N)
lag=$(awk -v a="$arrived" -v s="$stamped" 'BEGIN { printf "%.3f", a - s }')
awk -v l="$lag" 'BEGIN { exit !(l < 1 && l > -1) }' || fail "start-up line reached the journal $lag s late"
pass "start-up line in the journal $lag s after the daemon wrote it"
part "checks 1-2"

# --- 2b. The library packages, as an app developer on the board installs them ------------------
# libferry1, libferry-dev and python3-ferry: the soname found through the loader's cache, the
# development link and the pkg-config file leading to the same library, the header where the
# pkg-config file says, and Python importing the package on that very file. Its echo peer
# example runs against the daemon in check 3.
lib_paths=()
for f in "${lib_debs[@]}"; do lib_paths+=("/root/boot/$(basename "$f")"); done
apt_get in_ct -- install -y -q "${lib_paths[@]}" </dev/null >"$work/install-lib-$arch.log" 2>&1 ||
  { cat "$work/install-lib-$arch.log" >&2; fail "apt-get install of the library packages"; }
for p in libferry1 libferry-dev python3-ferry; do
  [ "$(in_ct dpkg-query -W -f='${Status}' "$p")" = "install ok installed" ] || fail "dpkg status of $p"
done
# awk reads to the end: leaving early would end ldconfig with SIGPIPE, a failed pipeline.
so=$(in_ct ldconfig -p | awk '$1 == "libferry.so.1" && !n++ { print $NF }') || fail "ldconfig -p failed"
[ -n "$so" ] || fail "libferry.so.1 is not in the loader's cache (ldconfig -p)"
lib_file=$(in_ct readlink -f "$so") || fail "readlink -f $so failed"
[ "$(basename "$lib_file")" = "libferry.so.$lib_version" ] || fail "libferry.so.1 leads to $lib_file, not libferry.so.$lib_version"
dev_link=$(in_ct readlink -f "$(dirname "$so")/libferry.so" || true)
[ "$dev_link" = "$lib_file" ] || fail "the development link $(dirname "$so")/libferry.so leads to '$dev_link', not $lib_file"
if in_ct sh -c 'command -v pkg-config' >/dev/null; then
  pc=$(in_ct pkg-config --modversion libferry 2>&1) || fail "pkg-config --modversion libferry: $pc"
  [ "$pc" = "$lib_version" ] || fail "pkg-config says libferry $pc, the package is $lib_version"
  pc_libs=$(in_ct pkg-config --libs libferry | xargs) || fail "pkg-config --libs libferry failed"
  [[ " $pc_libs " == *" -lferry "* ]] || fail "pkg-config --libs libferry gives '$pc_libs', without -lferry"
  header=$(in_ct pkg-config --variable=includedir libferry)/ferry.h || fail "pkg-config --variable=includedir libferry failed"
  in_ct test -f "$header" || fail "no $header, where libferry.pc says the header is"
  pc_line="pkg-config: libferry $pc, '$pc_libs', $header"
else
  pc_line="no pkg-config in the root: libferry.pc not read"
  echo "boot-check: note $pc_line"
fi
# The installed package and library alone: nsenter passes this shell's environment on, and
# FERRY_LIBRARY or PYTHONPATH (a developer's build tree) would lead Python elsewhere.
python=(env -u FERRY_LIBRARY -u PYTHONPATH python3)
# The file the import mapped, from the interpreter's own memory map.
py=$(in_ct "${python[@]}" -c 'import ferry
print(ferry.__version__, ferry.library_version,
      next(l.split()[-1] for l in open("/proc/self/maps") if "libferry" in l))' 2>&1) ||
  fail "python3 -c 'import ferry': $py"
read -r py_version py_lib_version py_mapped <<<"$py"
[ "$py_version $py_lib_version" = "$version $lib_version" ] ||
  fail "python3 -c 'import ferry' gives versions $py_version (package) and $py_lib_version (library)"
[ "$(in_ct readlink -f "$py_mapped")" = "$lib_file" ] || fail "import ferry loaded $py_mapped, not $lib_file"
echo_example=$(in_ct dpkg -L python3-ferry | grep '/echo_peer\.py$') || fail "python3-ferry installed no echo_peer.py example"
pass "library packages: libferry.so.1 -> $lib_file (loader's cache, development link); $pc_line; import ferry $py_version on libferry $py_lib_version; example $echo_example"
part "check 2b (library packages)"

# --- 3. The relay under the real sandbox, between the installed ferrycat's two ends -----------
# ferrycat broker on the board (the port from /etc/qmx/ferryd.conf) and ferrycat peer on the
# module stand-in's air side, both ways at once; then the module hangs up and comes back, and the
# relay again. Messages: "AT-AB" with flag and escape bytes, a lone 0x7E, a lone 0x7D and 3000
# bytes holding every value, as hex files. Each end's JSON output must be exactly its messages.
# Then the Python package's echo peer example on the air side sends ferrycat broker's messages
# back: the broker's output must be exactly its own messages.
relay_dir=/root/boot/relay
mkdir -p "$root$relay_dir"
peer_says() {  # text, n: until the module stand-in's log holds n lines with text (false: it ended)
  until [ "$(grep -c "$1" "$work/peer-$arch.log")" -ge "$2" ]; do
    kill -0 "$peer_pid" 2>/dev/null || return 1
    sleep 0.2
  done
}
peer_shown=0
show_peer() {  # the module stand-in's lines not shown yet
  tail -n +$((peer_shown + 1)) "$work/peer-$arch.log" | sed 's/^/    /'
  peer_shown=$(wc -l <"$work/peer-$arch.log")
}
peer_go() {  # the stand-in below nsenter takes its next step
  local p
  p=$(pgrep -P "$peer_pid") || { show_peer >&2; fail "the module stand-in ended early"; }
  kill -USR1 "$p"
}
message_files() {  # direction (or echo), round: the hex files of its messages, named in order
  local d=$1 r=$2 i hex k=$2
  [ "$d" = north ] || k=$((r + 128))
  hex=$(printf 'AT-AB -CommandMode-\r\n %s round %s' "$d" "$r" | od -An -v -tx1 | tr -d ' \n')
  echo "${hex}7e7d7e7e7d5e5d00" >"$root$relay_dir/$d-$r-1.hex"
  echo 7e >"$root$relay_dir/$d-$r-2.hex"
  echo 7d >"$root$relay_dir/$d-$r-3.hex"
  for ((i = 0; i < 3000; i++)); do printf '%02x' $(((i * 7 + k) & 255)); done >"$root$relay_dir/$d-$r-4.hex"
  echo >>"$root$relay_dir/$d-$r-4.hex"
  printf "$relay_dir/$d-$r-%s.hex\n" 1 2 3 4
}
expected_json() {  # message files: ferrycat's -o json lines for them, without the id
  local f seq=0 hex
  for f in "$@"; do
    seq=$((seq + 1))
    hex=$(tr -d '\n' <"$root$f")
    # The one-byte messages are printable, so ferrycat shows them as text.
    case $hex in
      7e) echo "{\"seq\":$seq,\"length\":1,\"text\":\"~\"}" ;;
      7d) echo "{\"seq\":$seq,\"length\":1,\"text\":\"}\"}" ;;
      *) echo "{\"seq\":$seq,\"length\":$((${#hex} / 2)),\"hex\":\"$hex\"}" ;;
    esac
  done
}
air_side() { sed -n 's/^boot-peer: serving .*, air side //p' "$work/peer-$arch.log"; }
broker_start() {  # out, file, line, message files: ferrycat broker in the background ($broker)
  # Its messages go once the air side's end has written the line to the file: that end opens the
  # air side, which flushes it.
  local out=$1 file=$2 line=$3 f
  shift 3
  { for _ in $(seq 1 100); do grep -q "$line" "$file" 2>/dev/null && break; sleep 0.1; done
    for f in "$@"; do cat "$root$f"; done; } |
    in_ct timeout 60 ferrycat broker -x -o json -n $# -t 15 >"$out.broker.json" 2>"$out.broker.err" &
  broker=$!
  for _ in $(seq 1 100); do grep -q "ferryd is connected" "$out.broker.err" && break; sleep 0.1; done
  grep -q "ferryd is connected" "$out.broker.err" || { cat "$out.broker.err" >&2; fail "$round: ferrycat broker found no ferryd"; }
}
same_messages() {  # json, what, message files: whole, once, in order (ferrycat's ids aside)
  local json=$1 what=$2
  shift 2
  sed 's/,"id":[0-9]*//' "$json" | diff -q - <(expected_json "$@") >/dev/null ||
    { head -c 2000 "$json" >&2; fail "$round: $what (above)"; }
}
received() { grep -o 'received messages=[0-9]* bytes=[0-9]*' "$1"; }  # a ferrycat summary
relay() {  # round: ferrycat peer on the air side, both ways at once
  local r=$1 out=$work/relay-$arch-$1 air b_rc=0 p_rc=0 t f files=() north south
  round="round $r"
  mapfile -t north < <(message_files north "$r")
  mapfile -t south < <(message_files south "$r")
  for f in "${north[@]}"; do files+=(-f "$f"); done
  air=$(air_side)
  rm -f "$out".*
  broker_start "$out" "$out.peer.err" "open at" "${south[@]}"
  t=$(now)
  in_ct timeout 60 ferrycat peer -x -o json -n 4 -t 15 "${files[@]}" "$air" \
    >"$out.peer.json" 2>"$out.peer.err" </dev/null || p_rc=$?
  wait "$broker" || b_rc=$?
  if [ "$b_rc" -ne 0 ] || [ "$p_rc" -ne 0 ]; then
    cat "$out.broker.err" "$out.peer.err" >&2
    fail "$round: ferrycat broker ended with $b_rc, ferrycat peer with $p_rc"
  fi
  # Each end's output is exactly the other end's messages.
  same_messages "$out.broker.json" "peer -> broker: ferrycat broker's output is not the peer's 4 messages" "${north[@]}"
  same_messages "$out.peer.json" "broker -> peer: ferrycat peer's output is not the broker's 4 messages" "${south[@]}"
  if ! grep -q 'sent messages=4 ' "$out.broker.err" || ! grep -q 'sent messages=4 ' "$out.peer.err"; then
    cat "$out.broker.err" "$out.peer.err" >&2
    fail "$round: a summary does not say 4 messages sent"
  fi
  echo "    $round: 4 messages each way intact in $(since "$t") s (\"AT-AB\", 0x7E, 0x7D, 3000 bytes)"
  echo "      broker $(received "$out.broker.err"), peer $(received "$out.peer.err")"
}
echo_round() {  # round: the Python package's echo peer on the air side sends each message back
  local r=$1 out=$work/relay-$arch-$1 air b_rc=0 e_rc=0 t p messages
  round="round $r (Python echo peer)"
  mapfile -t messages < <(message_files echo "$r")
  air=$(air_side)
  rm -f "$out".*
  broker_start "$out" "$out.echo.out" "echo peer on" "${messages[@]}"
  t=$(now)
  in_ct timeout 60 "${python[@]}" "$echo_example" "$air" >"$out.echo.out" 2>"$out.echo.err" </dev/null &
  echo_pid=$!
  wait "$broker" || b_rc=$?
  # The echo peer serves until its line closes, which the air side's does not: it is ended with
  # SIGTERM (timeout passes it on), which is then its exit status (143). Any other status means
  # it ended by itself, with a reason on its standard error.
  for p in $(pgrep -P "$echo_pid"); do kill -TERM "$p" 2>/dev/null || true; done
  wait "$echo_pid" || e_rc=$?
  echo_pid=
  if [ "$b_rc" -ne 0 ] || [ "$e_rc" -ne 143 ]; then
    cat "$out.broker.err" "$out.echo.out" "$out.echo.err" >&2
    fail "$round: ferrycat broker ended with $b_rc, the echo peer with $e_rc (143: ended by the check)"
  fi
  same_messages "$out.broker.json" "broker -> echo peer -> broker: ferrycat broker's output is not its own 4 messages" "${messages[@]}"
  [ "$(grep -c '^echoed ' "$out.echo.out")" -eq 4 ] || { cat "$out.echo.out" >&2; fail "$round: the echo peer did not say 4 messages echoed"; }
  echo "    $round: 4 messages there and back intact in $(since "$t") s (\"AT-AB\", 0x7E, 0x7D, 3000 bytes)"
  echo "      broker $(received "$out.broker.err"); echo peer: $(grep -c '^echoed ' "$out.echo.out") messages echoed ($(sed -n 's/^echoed \([0-9]*\) bytes/\1/p' "$out.echo.out" | paste -sd' ') bytes)"
}
in_ct test -x /usr/bin/ferrycat || fail "the package installed no /usr/bin/ferrycat"
peer_says "link connected" 1 || { show_peer >&2; fail "the link did not come up"; }
show_peer
relay 1
peer_go
peer_says "link connected" 2 || { show_peer >&2; fail "the link did not come up after the module's hang-up"; }
show_peer
relay 2
echo_round 3
pass "python3-ferry: the installed echo peer example sent ferrycat broker's messages back through the daemon, whole"
peer_go
rc=0
wait "$peer_pid" || rc=$?
peer_pid=
show_peer
[ "$rc" -eq 0 ] || fail "the module stand-in (see the lines above)"
journal=$(in_ct journalctl -u ferryd -o cat --no-pager)
[ "$(grep -c 'Going BT_LINK_CONNECTED' <<<"$journal")" -ge 2 ] || fail "link not connected twice"
grep -q '/dev/ttyS5 reopened' <<<"$journal" || fail "no reopen of /dev/ttyS5 in the journal"
denied=$(grep -E 'err\(1\)|err\(-1\)|Operation not permitted' <<<"$journal" || true)
[ -z "$denied" ] || fail "the sandbox refused something during the relay:"$'\n'"$denied"
seccomp=$(in_ct journalctl -b --no-pager -o cat 2>/dev/null | grep -E 'SECCOMP|type=1326|audit\[' || true)
[ -z "$seccomp" ] || fail "seccomp or audit lines in the journal:"$'\n'"$seccomp"
pass "relay: ferrycat broker and peer, messages both ways at once intact, module hung up and reopened, again intact; nothing refused"
part "check 3 (relay)"

# --- 4. The device allow-list -----------------------------------------------------------------
# DevicePolicy=closed always allows pseudo-terminals and /dev/null, zero, full, random and
# urandom, so the nodes are made with mknod as a device outside that set which the container
# allows and which ferryd may open outside the unit (tun, else fuse). The same device opens at
# the two listed paths and is refused at one not listed. The unit resolves its list when it
# starts, so the nodes come first.
conf=/etc/qmx/ferryd.conf
in_ct cp "$conf" /root/boot/ferryd.conf.orig
node=
for dev in "10 200" "10 229"; do
  in_ct rm -f /dev/ttyS9
  # shellcheck disable=SC2086
  in_ct mknod -m 0666 /dev/ttyS9 c $dev
  if in_ct setpriv --reuid=ferryd --regid=ferryd --init-groups sh -c 'exec 3<>/dev/ttyS9' 2>/dev/null; then
    node=$dev
    break
  fi
done
[ -n "$node" ] || fail "no device that ferryd can open in the container outside the unit: the check would prove nothing"
restart_with() {  # config lines appended to the shipped file
  in_ct sh -c "cp /root/boot/ferryd.conf.orig $conf && printf '%s\n' \"\$@\" >>$conf" sh "$@"
  from=$(in_ct date '+%Y-%m-%d %H:%M:%S')
  in_ct systemctl restart ferryd
}
wait_journal() {  # pattern: the line of the present run, within 5 s (the open follows a 1 s pulse)
  for _ in $(seq 1 50); do
    # Read whole before grep: under pipefail a grep that stops at its match could leave
    # journalctl to die of SIGPIPE and the pipeline to fail although the line is there.
    grep -m1 "$1" <<<"$(in_ct journalctl -u ferryd -o cat --no-pager --since "$from")" && return 0
    sleep 0.1
  done
  return 1
}
# shellcheck disable=SC2086
in_ct sh -c "rm -f /dev/ttyS5 /dev/pvxio0 && mknod -m 0666 /dev/ttyS5 c $node && mknod -m 0666 /dev/pvxio0 c $node"
restart_with 'log4cpp.category.cBTModem = DEBUG'
wait_journal '/dev/ttyS5 Opened OK' >/dev/null || fail "/dev/ttyS5 (on the list) did not open"
# The GPIO device's read fails only with a descriptor: the open succeeded.
wait_journal 'GPIO device: reading the pins failed' >/dev/null ||
  fail "/dev/pvxio0 (on the list) did not open"
in_ct rm -f /dev/ttyS5 /dev/pvxio0
restart_with 'ferryd.io.tty = /dev/ttyS9'
refused=$(wait_journal '/dev/ttyS9 Could not be Opened' || true)
in_ct cp /root/boot/ferryd.conf.orig "$conf"
in_ct rm -f /dev/ttyS9
in_ct systemctl restart ferryd
if [ -z "$refused" ] && [ "$arch" != amd64 ]; then
  # systemd under qemu-user cannot load its BPF device filter: nothing is enforced there.
  echo "boot-check: note under emulation the device allow-list is not enforced: /dev/ttyS9 (not listed) opened"
else
  [ -n "$refused" ] || fail "/dev/ttyS9 (not on the list) was not refused"
  # With the reason in the line, it must be the device policy's.
  if grep -q 'Could not be Opened.*: ' <<<"$refused"; then
    grep -q 'Operation not permitted' <<<"$refused" || fail "refused for another reason: $refused"
  fi
  pass "devices: char ${node/ /:} opens as /dev/ttyS5 and /dev/pvxio0 under the unit and is refused as /dev/ttyS9 (not listed): $(sed 's/.*cBTModem: //' <<<"$refused")"
fi
part "check 4 (device allow-list)"

# --- 4b. The check mode: the drop-in it prints is the one needed ------------------------------
# The same device as /dev/ttyS9, off the unit's list, and a /dev/pvxio0 of group "gpio" (mode
# 0660), which the unit's user is not in: ferryd --check names the DeviceAllow= and
# SupplementaryGroups= lines (from systemd's effective settings and the unit's user); that
# drop-in, written exactly as printed, passes the service part and the GPIO device's access, and
# the daemon opens both. The GPIO node has /dev/null's numbers, which every device policy but
# "strict" allows: a node of the same device as /dev/ttyS9 would put /dev/ttyS9 on the list (the
# list holds device numbers). The rest of the check fails here (no terminal, no pins): only the
# service part, the GPIO device's access and the serial line's holder are looked at.
in_ct sh -c 'getent group gpio >/dev/null || groupadd --system gpio'
# shellcheck disable=SC2086
in_ct sh -c "mknod -m 0666 /dev/ttyS9 c $node && mknod -m 0660 /dev/pvxio0 c 1 3 && chgrp gpio /dev/pvxio0"
restart_with 'ferryd.io.tty = /dev/ttyS9' 'log4cpp.category.cBTModem = DEBUG'
wait_journal 'GPIO device /dev/pvxio0 could not be opened: Permission denied' >/dev/null ||
  fail "the daemon opened /dev/pvxio0 of group gpio without the group"
before=$(in_ct /usr/sbin/ferryd --check || true)
grep -q "FAIL service /dev/ttyS9 (ferryd.io.tty) is not allowed by the unit's DeviceAllow=" <<<"$before" ||
  fail "ferryd --check did not name /dev/ttyS9 as off the unit's list:"$'\n'"$before"
grep -q "FAIL gpio    /dev/pvxio0 (ferryd.io.pvxio): owner root, group gpio, mode 0660; ferryd cannot open it" <<<"$before" ||
  fail "ferryd --check did not find /dev/pvxio0 closed to the unit's user:"$'\n'"$before"
dropin=$(sed -e 's/^ *//' -e 's/^-> //' <<<"$before" | sed -n '/^\[Service\]$/,/^then: /p' | grep -v '^then: ' || true)
[ "$dropin" = $'[Service]\nSupplementaryGroups=gpio\nDeviceAllow=/dev/ttyS9 rw' ] ||
  fail "ferryd --check printed another drop-in:"$'\n'"$dropin"$'\n'"$before"
in_ct mkdir -p /etc/systemd/system/ferryd.service.d
in_ct sh -c 'cat >/etc/systemd/system/ferryd.service.d/check.conf' <<<"$dropin"
in_ct systemctl daemon-reload
from=$(in_ct date '+%Y-%m-%d %H:%M:%S')
in_ct systemctl restart ferryd
opened=$(wait_journal '/dev/ttyS9 Opened OK' || true)  # a second after the GPIO device's open
gpio=$(in_ct journalctl -u ferryd -o cat --no-pager --since "$from" | grep -m1 'GPIO device /dev/pvxio0 could not be opened' || true)
after=$(in_ct /usr/sbin/ferryd --check || true)
in_ct rm -f /etc/systemd/system/ferryd.service.d/check.conf
in_ct systemctl daemon-reload
in_ct cp /root/boot/ferryd.conf.orig "$conf"
in_ct rm -f /dev/ttyS9 /dev/pvxio0
in_ct systemctl restart ferryd
[ -n "$opened" ] || fail "with the printed drop-in the daemon did not open /dev/ttyS9"
[ -z "$gpio" ] || fail "with the printed drop-in the daemon still could not open /dev/pvxio0: $gpio"
grep -q "ok   gpio    /dev/pvxio0 (ferryd.io.pvxio): owner root, group gpio, mode 0660; ferryd can open it" <<<"$after" ||
  fail "with the printed drop-in the check still finds /dev/pvxio0 closed:"$'\n'"$after"
grep -q "ok   service /dev/ttyS9 (ferryd.io.tty) is allowed by the unit's DeviceAllow=" <<<"$after" ||
  fail "with the printed drop-in the check still refuses /dev/ttyS9:"$'\n'"$after"
! grep -q '^FAIL service' <<<"$after" || fail "the service part still fails:"$'\n'"$after"
held=$(grep -m1 "ferryd's status: " <<<"$after" | sed 's/^ok *serial *//' || true)
show_check() {  # check output: its service part, the GPIO device's access, the line's holder
  awk '/^[^ ]/ { keep = ($2 == "service" || /held by|status:|pvxio0.*open it/) } keep { print "    " $0 }' <<<"$1"
}
echo "    ferryd --check (service part), before the drop-in:"
show_check "$before"
echo "    after it:"
show_check "$after"
pass "check mode: /dev/ttyS9 and a /dev/pvxio0 of group gpio get '$(tail -n+2 <<<"$dropin" | paste -sd' ')' printed; written as a drop-in, the service part and the device access pass and the daemon opens both; ${held:-no status line}"
part "check 4b (ferryd --check and its drop-in)"

# --- 5. Restart after a crash, a quick stop, the watchdog --------------------------------------
wait_new_main() {  # old pid, seconds: a new main process, active
  local p
  for _ in $(seq 1 $(($2 * 10))); do
    p=$(show MainPID)
    if [ "$p" != 0 ] && [ "$p" != "$1" ] && [ "$(show ActiveState)" = active ]; then return 0; fi
    sleep 0.1
  done
  return 1
}
pid=$(show MainPID)
restarts=$(show NRestarts)
t=$(now)
in_ct sh -c "kill -KILL $pid"
wait_new_main "$pid" 20 || fail "not restarted after kill -9 ($(show ActiveState))"
[ "$(show NRestarts)" -gt "$restarts" ] || fail "NRestarts did not rise"
pass "kill -9: restarted by systemd after $(since "$t") s (pid $pid -> $(show MainPID))"
t=$(now)
in_ct systemctl stop ferryd
stop_s=$(since "$t")
[ "$(show ActiveState)" = inactive ] || fail "stop left the unit $(show ActiveState)"
awk -v s="$stop_s" 'BEGIN { exit !(s < 0.5) }' || fail "systemctl stop took $stop_s s"
pass "systemctl stop: ended in $stop_s s"
in_ct systemctl start ferryd
watchdog=$(show WatchdogUSec)
if [ -z "$watchdog" ] || [ "$watchdog" = 0 ] || [ "$watchdog" = infinity ]; then
  echo "boot-check: skip SIGSTOP: the unit sets no watchdog (WatchdogSec=)"
else
  wd_us=$(in_ct systemd-analyze timespan "$watchdog" | awk '$1 == "μs:" { print $2 }')
  pid=$(show MainPID)
  t=$(now)
  in_ct sh -c "kill -STOP $pid"
  # The watchdog time, then RestartSec=, then a margin.
  wait_new_main "$pid" $((wd_us / 1000000 + 15)) ||
    fail "stopped daemon not restarted within the watchdog time ($watchdog)"
  pass "SIGSTOP: restarted by the watchdog ($watchdog) after $(since "$t") s"
fi
part "check 5 (restart, stop, watchdog)"

# --- 6. Upgrade keeps the edited configuration; remove keeps it; purge removes it --------------
# The newer version is the same package with a higher version in its control file: contents and
# maintainer scripts are the real ones.
newer=${version}+1
tmp=$(mktemp -d)
dpkg-deb -R "$deb" "$tmp/pkg"
sed -i "s/^Version: .*/Version: $newer/" "$tmp/pkg/DEBIAN/control"
dpkg-deb --build --root-owner-group "$tmp/pkg" "$root/root/boot/ferryd_${newer}_$arch.deb" >/dev/null
rm -rf "$tmp"
edit='ferryd.io.btname = EditedOnBoard'
in_ct sh -c "echo '$edit' >>$conf"
pid=$(show MainPID)
apt_get in_ct -- install -y -q "/root/boot/ferryd_${newer}_$arch.deb" \
  </dev/null >"$work/upgrade-$arch.log" 2>&1 || { cat "$work/upgrade-$arch.log" >&2; fail "upgrade"; }
[ "$(in_ct dpkg-query -W -f='${Version}' ferryd)" = "$newer" ] || fail "version after the upgrade"
in_ct grep -qx "$edit" "$conf" || fail "the upgrade lost the edited $conf"
wait_new_main "$pid" 10 || fail "not running the new version after the upgrade"
pass "upgrade $version -> $newer: edited $conf kept, daemon restarted (pid $(show MainPID))"
apt_get in_ct -- remove -y -q ferryd </dev/null >>"$work/upgrade-$arch.log" 2>&1 ||
  fail "remove"
[ "$(in_ct dpkg-query -W -f='${Status}' ferryd)" = "deinstall ok config-files" ] || fail "status after remove"
in_ct grep -qx "$edit" "$conf" || fail "remove lost the edited $conf"
in_ct test ! -e /usr/sbin/ferryd || fail "remove left /usr/sbin/ferryd"
[ "$(show ActiveState)" != active ] || fail "unit still active after remove"
pass "remove: daemon stopped and gone, edited $conf kept"
apt_get in_ct -- purge -y -q ferryd </dev/null >>"$work/upgrade-$arch.log" 2>&1 ||
  fail "purge"
in_ct test ! -e "$conf" || fail "purge left $conf"
left=$(in_ct sh -c 'ls /etc/systemd/system/*/ferryd.service /var/lib/systemd/deb-systemd-helper-enabled/ferryd.service* /var/lib/systemd/deb-systemd-helper-masked/ferryd.service 2>/dev/null' || true)
[ -z "$left" ] || fail "purge left unit state: $left"
enabled=$(in_ct systemctl is-enabled ferryd 2>&1 || true)
[ "$enabled" != enabled ] || fail "unit still enabled after purge"
pass "purge: $conf removed, no unit enabled (is-enabled: $enabled)"
part "check 6 (upgrade, remove, purge)"

t_part=$t_all
part "total ($arch)"
