#!/usr/bin/env bash
# Builds the Debian packages ferryd_<version>_<arch>.deb for amd64, armhf and arm64 (CPack), runs
# lintian on the amd64 one and checks all three with dpkg-deb: control fields, Depends computed
# for the right architecture, the conffile, the file list and the programs' machine. For each
# architecture also libferry1 and libferry-dev (scripts/package-libferry.sh, symbols checked).
# Then python3-ferry_<version>_all.deb (scripts/package-python.sh), checked and lintian-checked.
# Usage: scripts/package.sh [--reuse] [arch...]   (default: amd64 armhf arm64)
# Packages land in build/packages/. Each is made from a daemon-only build in build/pkg-ARCH; with
# --reuse, from the test builds that scripts/test.sh and scripts/cross.sh leave (build/normal,
# build/armhf, build/arm64) where they exist, saving a build per architecture.
set -euo pipefail
cd "$(dirname "$0")/.."
reuse=
if [ "${1:-}" = --reuse ]; then
  reuse=1
  shift
fi
archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(amd64 armhf arm64)
bash scripts/setup.sh
bash scripts/setup.sh lintian dpkg-dev binutils

version=$(sed -n 's/^project(ferryd VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
lib_version=$(sed -n 's/^set(FERRY_VERSION \([0-9.]*\))/\1/p' CMakeLists.txt)
out=build/packages
mkdir -p "$out"
failures=0
fail() {
  echo "package check FAILED: $*" >&2
  failures=$((failures + 1))
}

# Field of the package's control file.
field() { dpkg-deb -f "$1" "$2"; }

check_package() {
  local arch=$1 deb=$2 machine
  case "$arch" in
    amd64) machine="X86-64" ;;
    armhf) machine="ARM" ;;
    arm64) machine="AArch64" ;;
  esac
  [ "$(field "$deb" Package)" = ferryd ] || fail "$deb: Package"
  [ "$(field "$deb" Version)" = "$version" ] || fail "$deb: Version $(field "$deb" Version)"
  [ "$(field "$deb" Architecture)" = "$arch" ] || fail "$deb: Architecture $(field "$deb" Architecture)"
  local depends
  depends=$(field "$deb" Depends)
  for dep in 'libc6 (>= 2.' 'liblog4cpp5v5 (>= ' 'libsystemd0' 'libstdc++6 (>= ' 'adduser' 'init-system-helpers'; do
    [[ "$depends" == *"$dep"* ]] || fail "$deb: Depends lacks '$dep': $depends"
  done
  local ctl
  ctl=$(mktemp -d)
  dpkg-deb -e "$deb" "$ctl"
  [ "$(cat "$ctl/conffiles")" = /etc/qmx/ferryd.conf ] || fail "$deb: conffiles"
  for s in postinst prerm postrm; do
    [ -x "$ctl/$s" ] || fail "$deb: no $s"
  done
  grep -q 'adduser --system' "$ctl/postinst" || fail "$deb: postinst creates no user"
  grep -q "deb-systemd-helper enable 'ferryd.service'" "$ctl/postinst" || fail "$deb: postinst enables nothing"
  rm -rf "$ctl"
  local files
  files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
  local expected
  expected=$(printf '%s\n' ./etc/qmx/ferryd.conf ./lib/systemd/system/ferryd.service ./usr/sbin/ferryd \
    ./usr/bin/ferrycat ./usr/share/doc/ferryd/README.md ./usr/share/doc/ferryd/changelog.gz \
    ./usr/share/doc/ferryd/copyright ./usr/share/doc/ferryd/wire-format.md \
    ./usr/share/doc/ferryd/serial-trace.md \
    ./usr/share/man/man8/ferryd.8.gz ./usr/share/man/man1/ferrycat.1.gz \
    "./usr/lib/$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)/wireshark/plugins/ferryd.lua" | sort)
  [ "$files" = "$expected" ] || fail "$deb: files"$'\n'"$files"
  local x
  x=$(mktemp -d)
  dpkg-deb -x "$deb" "$x"
  for program in usr/sbin/ferryd usr/bin/ferrycat; do
    readelf -h "$x/$program" | grep -q "Machine:.*$machine" || fail "$deb: $program is not $machine"
    readelf -S "$x/$program" | grep -q '\.debug_' && fail "$deb: $program not stripped"
  done
  cmp -s "$x/lib/systemd/system/ferryd.service" etc/ferryd.service || fail "$deb: unit differs"
  rm -rf "$x"
  echo "$(basename "$deb"): $(stat -c %s "$deb") bytes; Depends: $depends"
}

for arch in "${archs[@]}"; do
  dir=build/pkg-$arch
  if [ -n "$reuse" ]; then
    test_dir=build/$arch
    [ "$arch" = "$(dpkg --print-architecture)" ] && test_dir=build/normal
    [ -f "$test_dir/CMakeCache.txt" ] && dir=$test_dir
  fi
  toolchain=()
  if [ "$arch" != "$(dpkg --print-architecture)" ]; then
    bash scripts/target-tree.sh "$arch"
    toolchain=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-$arch.cmake")
  fi
  echo "== package $arch (from $dir)"
  if [ "$dir" = "build/pkg-$arch" ]; then
    cmake -S . -B "$dir" -DFERRYD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release -DFERRYD_WERROR=ON \
      "${toolchain[@]}" >/dev/null
  fi
  cmake --build "$dir" -j "$(nproc)" --target ferryd ferrycat ferryd-changelog >/dev/null
  rm -f "$dir"/packages/*.deb
  (cd "$dir" && cpack >/dev/null)
  deb=$dir/packages/ferryd_${version}_$arch.deb
  [ -f "$deb" ] || { fail "no $deb"; continue; }
  cp "$deb" "$out/"
  check_package "$arch" "$out/$(basename "$deb")"
  echo "== libferry1, libferry-dev $arch"
  bash scripts/package-libferry.sh "$arch" "$dir" "$out" || fail "libferry packages for $arch"
  if [ "$arch" = amd64 ]; then
    echo "== lintian libferry1, libferry-dev ($lib_version, amd64), then ferryd"
    lint_rc=0
    lint=$(lintian --fail-on error,warning --tag-display-limit 0 "$out/libferry1_${lib_version}_amd64.deb" \
      "$out/libferry-dev_${lib_version}_amd64.deb" 2>&1) || lint_rc=$?
    echo "$lint" | grep -v 'running with root privileges' || true
    [ "$lint_rc" -eq 0 ] || fail "lintian reports on the libferry packages"
    lint=$(lintian --fail-on error --tag-display-limit 0 "$out/ferryd_${version}_amd64.deb" 2>&1) ||
      lint_rc=$?
    echo "$lint" | grep -v 'running with root privileges' || true
    [ "$lint_rc" -eq 0 ] || fail "lintian reports errors"
  fi
done

# ---- python3-ferry: pure Python, Architecture all, built once whatever the architectures ----
bash scripts/package-python.sh "$out" || fail "python3-ferry"
# ---- end of python3-ferry ----

[ "$failures" -eq 0 ] || exit 1
