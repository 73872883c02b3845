#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ with clang (ASan+UBSan), replays every seed corpus in
# fuzz/corpus/<target>/, then fuzzes each target for a bounded time. Any crash, sanitizer report,
# failed property, leak, time-out or memory overrun fails the run; its input is kept in
# build/fuzz/findings/.
#   FUZZ_SECONDS  fuzzing time per target (default 20)
#   FUZZ_RUNS     also stop a target after this many executions (default: no limit)
#   FUZZ_TARGETS  targets to run (default: every fuzz/fuzz_*.cpp)
#   FUZZ_BUILD    build folder (default build/fuzz)
# A longer campaign, e.g.: FUZZ_SECONDS=600 FUZZ_RUNS=10000000 FUZZ_BUILD=build/campaign
set -euo pipefail
cd "$(dirname "$0")/.."

# clang and its runtime libraries (libFuzzer, sanitizers) are needed only here.
bash scripts/setup.sh clang libclang-rt-14-dev

seconds=${FUZZ_SECONDS:-20}
targets=${FUZZ_TARGETS:-$(cd fuzz && ls fuzz_*.cpp | sed 's/^fuzz_//; s/\.cpp$//')}
build=${FUZZ_BUILD:-build/fuzz}
runs=()
[ -n "${FUZZ_RUNS:-}" ] && runs=(-runs="$FUZZ_RUNS")
findings=$build/findings

echo "== build $build (clang, libFuzzer, ASan+UBSan)"
cmake -S . -B $build -DCMAKE_CXX_COMPILER=clang++ -DFERRYD_FUZZ=ON -DFERRYD_TESTS=OFF \
  -DFERRYD_WERROR=ON >/dev/null
cmake --build $build -j "$(nproc)" --target $(printf 'fuzz_%s ' $targets) >/dev/null

# A small quarantine keeps each fuzzer well inside its memory limit.
export ASAN_OPTIONS=quarantine_size_mb=16:detect_leaks=1:verify_asan_link_order=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$findings"

failed=()
for t in $targets; do
  bin=$build/fuzz/fuzz_$t
  seeds=fuzz/corpus/$t
  work=$build/corpus/$t  # new inputs land here, never in the checked-in seeds
  mkdir -p "$work"
  dict=()
  [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
  echo "== fuzz_$t: replay $(ls "$seeds" | wc -l) seeds, then fuzz ${seconds}s"
  if ! "$bin" "$seeds"/* >"$build/$t-replay.log" 2>&1; then
    echo "fuzz_$t: a seed fails:"; tail -30 "$build/$t-replay.log"
    failed+=("$t"); continue
  fi
  if ! "$bin" "${dict[@]}" "${runs[@]}" -max_total_time="$seconds" -rss_limit_mb=512 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$findings/$t-" "$work" "$seeds" \
      >"$build/$t-fuzz.log" 2>&1; then
    echo "fuzz_$t: finding:"; grep -v '^#' "$build/$t-fuzz.log" | tail -40
    failed+=("$t"); continue
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE|^Done|peak_rss' "$build/$t-fuzz.log" | tr -s '\t ' ' ' || true
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]} (inputs in $findings)"
  exit 1
fi
echo "fuzz: every target clean"
