#!/usr/bin/env bash
# Sets up, builds and runs every test of Quarrow on a virtual display: the normal build with
# a valgrind run, then a clang build with AddressSanitizer and UndefinedBehaviorSanitizer that
# also fuzzes the map reader and painter for a minute.
set -euo pipefail
cd "$(dirname "$0")"
. tools/common.sh
install_packages "${GAME_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
build build
CC=clang CXX=clang++ build build-san -DQUARROW_SANITIZE=ON -DQUARROW_FUZZ=ON
start_xvfb
ctest --test-dir build --output-on-failure
ctest --test-dir build-san --output-on-failure
