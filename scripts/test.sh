#!/usr/bin/env bash
# Builds and runs every test in three configurations (plain with -Werror, ASan+UBSan, TSan for the
# threaded tests) and checks the formatting of the tree.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

echo "== clang-format check"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

run_build() {
  local dir=$1 label=$2
  shift 2
  echo "== build $dir $*"
  cmake -S . -B "$dir" -DFERRYD_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" >/dev/null
  echo "== tests in $dir"
  (cd "$dir" && ctest -j "$jobs" --output-on-failure --timeout 300 ${label:+-L "$label"})
}

# umockdev's preload library comes first in the tested processes, ahead of the sanitizer runtime.
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

run_build build/normal ""
run_build build/asan "" -DFERRYD_SANITIZE=address
run_build build/tsan threaded -DFERRYD_SANITIZE=thread

# The fuzz targets: every corpus replayed, then a short bounded run of each.
bash scripts/fuzz.sh

# The service unit, the boards' builds under qemu-user and the packages; then the amd64 package
# installed and used in a booted Debian 12 container.
bash scripts/service-check.sh build/normal/main/ferryd
bash scripts/cross.sh armhf
bash scripts/cross.sh arm64
bash scripts/package.sh --reuse
bash scripts/boot-check.sh
