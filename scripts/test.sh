#!/usr/bin/env bash
# Runs every check CI runs, in stages, each timed: formatting; the plain (-Werror), ASan+UBSan and
# TSan builds with their tests; fuzzing; the service unit; the ARM builds under qemu-user; the
# packages; and the amd64 package in a booted Debian 12.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# Each stage's wall time, printed as it ends and again in a table at the end.
stage_times=()
stage() {
  local name=$1 start=$SECONDS
  shift
  "$@"
  local took=$((SECONDS - start))
  echo "== stage '$name' took ${took} s"
  stage_times+=("$(printf '%-28s %5d s' "$name" "$took")")
}

stage setup bash scripts/setup.sh

format_check() {
  echo "== clang-format check"
  git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
}
stage format format_check

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

stage "plain build and tests" run_build build/normal ""
stage "ASan+UBSan build and tests" run_build build/asan "" -DFERRYD_SANITIZE=address
stage "TSan build and tests" run_build build/tsan threaded -DFERRYD_SANITIZE=thread

# The fuzz targets: every corpus replayed, then a short bounded run of each.
stage fuzzing bash scripts/fuzz.sh

# The service unit, the boards' builds under qemu-user and the packages; then the amd64 package
# installed and used in a booted Debian 12 container.
stage "service unit" bash scripts/service-check.sh build/normal/main/ferryd
stage "armhf under qemu-user" bash scripts/cross.sh armhf
stage "arm64 under qemu-user" bash scripts/cross.sh arm64
stage packages bash scripts/package.sh --reuse
stage "booted Debian 12" bash scripts/boot-check.sh

echo "== time per stage"
printf '  %s\n' "${stage_times[@]}"
echo "  total                        $(printf '%5d' "$SECONDS") s"
