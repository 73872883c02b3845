#!/usr/bin/env bash
# Builds libferry1_<version>_<arch>.deb and libferry-dev_<version>_<arch>.deb with dpkg-deb from a
# configured build folder (native or cross), and checks the exported symbols against the symbols
# file libferry/libferry1.symbols with dpkg-gensymbols -c4: a symbol added, lost or changed fails.
# Usage: scripts/package-libferry.sh ARCH BUILD_DIR OUT_DIR   (called by scripts/package.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
arch=$1 dir=$2 out=$3
version=$(sed -n 's/^set(FERRY_VERSION \([0-9.]*\))/\1/p' CMakeLists.txt)
triplet=$(sed -n 's/^CMAKE_LIBRARY_ARCHITECTURE:[A-Z]*=//p' "$dir/CMakeCache.txt")
[ -n "$triplet" ] || triplet=$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
tree=$(sed -n 's/^FERRYD_TARGET_TREE:[A-Z]*=//p' "$dir/CMakeCache.txt")
strip=strip
[ "$arch" = "$(dpkg --print-architecture)" ] || strip=$triplet-strip

# Debian's paths: /usr, the multiarch library folder.
cmake -S . -B "$dir" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR="lib/$triplet" >/dev/null
cmake --build "$dir" -j "$(nproc)" --target ferry libferry-docs >/dev/null

stage=$dir/libferry-debs
top=$PWD
rm -rf "$stage"
for pkg in libferry1 libferry-dev; do
  DESTDIR=$PWD/$stage/$pkg cmake --install "$dir" --component "$pkg" >/dev/null
  mkdir -p "$stage/$pkg/DEBIAN"
done
run=$stage/libferry1
so=$run/usr/lib/$triplet/libferry.so.$version
$strip --strip-unneeded --remove-section=.comment --remove-section=.note "$so"
chmod 0644 "$so"

# Depends of the library: dpkg-shlibdeps, for a cross build against the target tree's packages.
work=$stage/shlibdeps
mkdir -p "$work/debian"
printf 'Source: libferry\n\nPackage: libferry1\nArchitecture: any\n' >"$work/debian/control"
args=(-O)
env=()
if [ -n "$tree" ]; then
  for p in "$tree"/../pkgs/*; do args+=(-S"$p"); done
  args+=(-l"$tree/lib/$triplet" -l"$tree/usr/lib/$triplet")
  env=(env DEB_HOST_ARCH="$arch")
fi
depends=$(cd "$work" && "${env[@]}" dpkg-shlibdeps "${args[@]}" "$top/$so" 2>/dev/null |
  sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "package-libferry: dpkg-shlibdeps found no Depends" >&2; exit 1; }
rm -rf "$work"

# The symbols file, checked: -c4 fails on any difference from what the library exports.
dpkg-gensymbols -plibferry1 -v"$version" -a"$arch" -P"$run" -e"$so" \
  -Ilibferry/libferry1.symbols -O"$run/DEBIAN/symbols" -c4 >/dev/null
echo "libferry ${version%%.*} libferry1 (>= $version)" >"$run/DEBIAN/shlibs"
echo "activate-noawait ldconfig" >"$run/DEBIAN/triggers"

common="Version: $version
Architecture: $arch
Maintainer: ferryd developers <ferryd@qmx-board.org>
Priority: optional
Homepage: https://qmx-board.org/ferryd"
size() { du -sk --exclude=DEBIAN "$1" | cut -f1; }
cat >"$run/DEBIAN/control" <<CONTROL
Package: libferry1
$common
Section: libs
Multi-Arch: same
Depends: $depends
Installed-Size: $(size "$run")
Description: messages over the ferryd relay (shared library)
 libferry segments, frames and reassembles messages exactly as ferryd does,
 for both ends of the relay: the Bluetooth peer's serial line (HDLC-style
 frames) and the message broker's UDP datagrams. A codec without I/O, and a
 port with blocking I/O on a tty or a connected descriptor.
CONTROL
dev=$stage/libferry-dev
cat >"$dev/DEBIAN/control" <<CONTROL
Package: libferry-dev
$common
Section: libdevel
Multi-Arch: same
Depends: libferry1 (= $version)
Installed-Size: $(size "$dev")
Description: messages over the ferryd relay (development files)
 libferry segments, frames and reassembles messages exactly as ferryd does.
 This package holds the header ferry.h, the pkg-config file, the API's
 documentation (libferry(3), libferry.md), an example and the test vectors
 for implementations in other languages.
CONTROL
for pkg in libferry1 libferry-dev; do
  (cd "$stage/$pkg" && find usr -type f -exec md5sum {} + | sort -k2 >DEBIAN/md5sums)
  find "$stage/$pkg" -type d -exec chmod 0755 {} +
  chmod 0644 "$stage/$pkg"/DEBIAN/*
  dpkg-deb --root-owner-group -Zxz --build "$stage/$pkg" "$out/${pkg}_${version}_$arch.deb" >/dev/null
  echo "${pkg}_${version}_$arch.deb: $(stat -c %s "$out/${pkg}_${version}_$arch.deb") bytes"
done
# Only the ferry_ names (and the version node) are exported.
if nm -D --defined-only "$so" | awk '{print $3}' | grep -v -e '^ferry_' -e '^LIBFERRY_1$'; then
  echo "package-libferry: symbols outside ferry_ exported" >&2
  exit 1
fi
