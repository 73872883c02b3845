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
# Under emulation the tests that time the daemon against a clock sped up ten times see every
# scheduling delay of the machine ten times larger. A test that fails is run once more, alone; the
# suite passes only if it passes then, and its name is printed either way.
cd "$dir"
if ! ctest -j "$jobs" --output-on-failure --timeout 300 "$@"; then
  echo "== $arch: re-running the failed tests once, one at a time:"
  sed 's/^[0-9]*:/  /' Testing/Temporary/LastTestsFailed.log
  ctest --rerun-failed --output-on-failure --timeout 300
fi
