#!/usr/bin/env bash
# Builds the daemon and the relay benchmark and runs it: ferryd against socat, side by side, on
# a pseudo-terminal and a UDP socket (a few minutes; --long for more repetitions and volume).
# Extra arguments go to the benchmark (--help lists them); the tables are printed as Markdown.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/normal -DFERRYD_WERROR=ON >/dev/null
cmake --build build/normal -j "$(nproc)" --target ferryd ferryd_perf >/dev/null
exec build/normal/bench/perf/ferryd_perf "$@"
