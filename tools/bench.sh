#!/usr/bin/env bash
# Builds Quarrow and prints its benchmark figures, on a virtual display of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/common.sh
install_packages "${GAME_PACKAGES[@]}"
build build
start_xvfb
build/bench/quarrow_bench
