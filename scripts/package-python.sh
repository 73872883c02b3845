#!/usr/bin/env bash
# Builds python3-ferry_<version>_all.deb (the Python package: pure Python on libferry1, so one
# package for every architecture) into the folder given (default build/packages), checks its
# control fields and file list and runs lintian on it. Called by scripts/package.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/packages}
version=$(sed -n 's/^project(ferryd VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# The package calls libferry's newest calls: it needs the library of this tree or later.
lib_version=$(sed -n 's/^set(FERRY_VERSION \([0-9.]*\))/\1/p' CMakeLists.txt)
deb=$out/python3-ferry_${version}_all.deb
failures=0
fail() {
  echo "package check FAILED: $*" >&2
  failures=$((failures + 1))
}

echo "== package python3-ferry (all)"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/root
modules=$root/usr/lib/python3/dist-packages/ferry
doc=$root/usr/share/doc/python3-ferry
install -d "$modules" "$doc/examples" "$root/DEBIAN"
install -m 644 python/ferry/*.py "$modules/"
install -m 644 python/examples/*.py "$doc/examples/"
install -m 644 cmake/deb/copyright "$doc/copyright"
sed "s/@PROJECT_VERSION@/$version/" cmake/deb/changelog.in | gzip -9n >"$doc/changelog.gz"
install -m 755 cmake/deb/python3-ferry/postinst cmake/deb/python3-ferry/prerm "$root/DEBIAN/"
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/@VERSION@/$version/g" -e "s/@LIB_VERSION@/$lib_version/g" -e "s/@SIZE@/$size/" \
  cmake/deb/python3-ferry/control.in \
  >"$root/DEBIAN/control"
(cd "$root" && find . -type f ! -path './DEBIAN/*' -printf '%P\0' | sort -z | xargs -0 md5sum) \
  >"$root/DEBIAN/md5sums"
mkdir -p "$out"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Architecture)" = all ] || fail "$deb: Architecture $(field Architecture)"
[ "$(field Version)" = "$version" ] || fail "$deb: Version $(field Version)"
[[ "$(field Depends)" == *"libferry1 (>= $lib_version)"* ]] || fail "$deb: Depends $(field Depends)"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
expected=$( (cd python && ls ferry/*.py | sed 's#^#./usr/lib/python3/dist-packages/#'
  ls examples/*.py | sed 's#^#./usr/share/doc/python3-ferry/#')
  printf '%s\n' ./usr/share/doc/python3-ferry/copyright ./usr/share/doc/python3-ferry/changelog.gz)
[ "$files" = "$(echo "$expected" | sort)" ] || fail "$deb: files"$'\n'"$files"
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes; Depends: $(field Depends)"

echo "== lintian $(basename "$deb")"
lint_rc=0
lint=$(lintian --fail-on error --tag-display-limit 0 "$deb" 2>&1) || lint_rc=$?
echo "$lint" | grep -v 'running with root privileges' || true
[ "$lint_rc" -eq 0 ] || fail "lintian reports errors"
[ "$failures" -eq 0 ]
