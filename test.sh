#!/usr/bin/env bash
# Sets up, builds and runs every test of Quarrow on a virtual display.
set -euo pipefail
cd "$(dirname "$0")"
. tools/common.sh
install_packages "${GAME_PACKAGES[@]}"
build build
start_xvfb
ctest --test-dir build --output-on-failure
