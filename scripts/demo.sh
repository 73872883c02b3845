#!/usr/bin/env bash
# Builds the daemon and runs it on the simulated board. Extra arguments go to the demo program
# (--interactive keeps the board running for a person to drive).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/normal -DFERRYD_WERROR=ON >/dev/null
cmake --build build/normal -j "$(nproc)" --target ferryd ferryd-demo >/dev/null
exec build/normal/bench/demo/ferryd-demo "$@"
