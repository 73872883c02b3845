#!/usr/bin/env bash
# Cross-builds ferryd and its tests for a Debian ARM target and runs the suite under qemu-user.
# Usage: scripts/cross.sh armhf|arm64 [ctest arguments, e.g. -L unit]
# Installs what is missing (cross compiler, qemu-user, the target library tree), builds in
# build/ARCH with -Werror and runs ctest there.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
case "$arch" in
  armhf | arm64) shift ;;
  *) echo "usage: $0 armhf|arm64 [ctest arguments]" >&2; exit 2 ;;
esac
bash scripts/setup.sh
bash scripts/target-tree.sh "$arch" --tests
jobs=$(nproc)
dir=build/$arch
echo "== cross build $dir ($arch)"
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-$arch.cmake" -DFERRYD_WERROR=ON >/dev/null
cmake --build "$dir" -j "$jobs" >/dev/null
echo "== tests in $dir under $(grep -o 'qemu-[a-z0-9]*' "$dir/CMakeCache.txt" | head -1)"
# Tests labelled "timed" measure time against a clock that libfaketime runs ten or twenty times
# faster: under emulation every scheduling delay of the machine is as many times larger. Those,
# and only those, are run once more, alone, when they fail, each named with its first failure
# (printed above). Any other failed test fails the run at once.
cd "$dir"
ctest -j "$jobs" --output-on-failure --timeout 300 "$@" && exit 0
timed=" $(ctest -N -L '^timed$' | sed -n 's/^ *Test *#\([0-9]*\):.*/\1/p' | tr '\n' ' ') "
untimed=0
while IFS=: read -r number name; do
  case "$timed" in
    *" $number "*) ;;
    *) echo "== $arch: $name failed (not timed against a sped-up clock: no re-run)"; untimed=1 ;;
  esac
done <Testing/Temporary/LastTestsFailed.log
[ "$untimed" = 0 ] || exit 1
cp Testing/Temporary/LastTestsFailed.log Testing/Temporary/FirstRunFailed.log
while IFS=: read -r number name; do
  echo "== $arch: re-running $name (timed against a sped-up clock); first failure above"
  ctest -I "$number,$number" --output-on-failure --timeout 300 </dev/null
done <Testing/Temporary/FirstRunFailed.log
