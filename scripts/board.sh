#!/usr/bin/env bash
# Builds the daemon, ferrycat and the board, and runs the real daemon on the simulated board with
# the Bluetooth link connected and nothing scripted at either end: it prints the commands for
# ferrycat broker and ferrycat peer to type in two more terminals. Ctrl-C ends it.
# Options (after board.sh): --port PORT, --segsize N, --speed X (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/normal -DFERRYD_WERROR=ON >/dev/null
cmake --build build/normal -j "$(nproc)" --target ferryd ferrycat ferryd-board >/dev/null
exec build/normal/bench/board/ferryd-board "$@"
