#!/usr/bin/env bash
# Installs, when missing, the cross compiler and qemu-user for a Debian ARM target and fills the
# target's library tree build/cross/ARCH/tree from Debian's ARCH packages (downloaded, unpacked,
# never installed: the machine's own -dev packages stay as they are).
# Usage: scripts/target-tree.sh armhf|arm64 [--tests]
#   without --tests: what the daemon links against (log4cpp, libsystemd, libstdc++, libc)
#   with --tests:    also GoogleTest, umockdev, glib and libfaketime for the test suite
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
case "$arch" in
  armhf) compiler=g++-arm-linux-gnueabihf ;;
  arm64) compiler=g++-aarch64-linux-gnu ;;
  *) echo "usage: $0 armhf|arm64 [--tests]" >&2; exit 2 ;;
esac
tests=${2:-}

bash scripts/setup.sh "$compiler" binutils-"${compiler#g++-}" qemu-user dpkg-dev

# A private apt state for the target architecture: its package lists live under build/, so the
# machine's dpkg needs no foreign architecture and its own installs stay untouched.
top=$PWD/build/cross/$arch
apt_dir=$top/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$top/debs"
touch "$apt_dir/status"
apt_opts=(-o "APT::Architecture=$arch" -o "APT::Architectures::=$arch"
          -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::State::status=$apt_dir/status"
          -o "Dir::Cache=$apt_dir/cache" -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root")
if [ -z "$(find "$apt_dir/lists" -name '*_Packages*' -mmin -1440 2>/dev/null | head -1)" ]; then
  echo "target-tree: fetching the $arch package lists"
  apt-get "${apt_opts[@]}" update -qq
fi

roots=(libc6 liblog4cpp5-dev libsystemd-dev libstdc++6 libgcc-s1)
[ "$tests" = "--tests" ] && roots+=(libgtest-dev libgmock-dev umockdev libumockdev-dev
                                    libglib2.0-dev libfaketime)
# Programs, interpreters, data and the C library's headers (those come with the cross compiler)
# are not needed in the tree: the dependency walk stops at them.
skip='^(perl.*|libperl.*|python3.*|libpython3.*|dpkg|install-info|pkg-config|pkgconf.*|libpkgconf.*|tar|mailcap|media-types|mime-support|readline-common|libglib2\.0-(bin|dev-bin|data)|gir1\.2-.*|libgirepository.*|googletest|libc-dev-bin|libc6-dev|linux-libc-dev|libcrypt-dev|libnsl-dev|libtirpc-dev|rpcsvc-proto|gcc-12-base|debconf.*|sensible-utils)$'
# Breadth first, one apt-cache call per level of the dependency graph.
declare -A seen=()
level=("${roots[@]}")
while [ ${#level[@]} -gt 0 ]; do
  for p in "${level[@]}"; do seen[$p]=1; done
  next=()
  while read -r dep; do
    [[ "$dep" =~ $skip ]] || [ -n "${seen[$dep]:-}" ] || { seen[$dep]=1; next+=("$dep"); }
  done < <(apt-cache "${apt_opts[@]}" depends --no-recommends --no-suggests --no-conflicts \
             --no-breaks --no-replaces --no-enhances "${level[@]}" 2>/dev/null |
           sed -n 's/^ *|\{0,1\}\(Pre\)\{0,1\}Depends: \([^<][^ :]*\).*/\2/p' | sort -u)
  level=("${next[@]}")
done
wanted=$(printf '%s\n' "${!seen[@]}" | sort)

tree=$top/tree
stamp=$top/tree.list
# A tree holding every wanted package (perhaps more: the tests' tree serves the daemon) is kept.
if [ -d "$tree" ] && [ -f "$stamp" ] && [ -z "$(comm -13 "$stamp" <(echo "$wanted"))" ]; then
  echo "target-tree: $tree is up to date ($(echo "$wanted" | wc -l) packages)"
  exit 0
fi
echo "target-tree: unpacking $(echo "$wanted" | wc -l) $arch packages into $tree"
(cd "$top/debs" && apt-get "${apt_opts[@]}" download $wanted >/dev/null)
rm -rf "$tree" "$top/pkgs"
mkdir -p "$tree" "$top/pkgs"
for p in $wanted; do
  deb=$(ls -t "$top/debs/${p}_"*.deb | head -1)
  dpkg-deb -x "$deb" "$tree"
  # Each package also unpacked with its control files, for dpkg-shlibdeps (symbols, shlibs).
  dpkg-deb -R "$deb" "$top/pkgs/$p"
done
echo "$wanted" >"$stamp"
