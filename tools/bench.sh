#!/usr/bin/env bash
# Builds Quarrow and its benchmark and prints the figures (a few minutes at most): the game, a bare
# Allegro frame and an SDL2 peer on one virtual display, interleaved in rounds. The frame times and
# their plot go to build-bench/results/.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/common.sh
install_packages "${GAME_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
timeout 600 build-bench/bench/quarrow_bench build-bench/results
