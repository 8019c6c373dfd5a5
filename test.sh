#!/usr/bin/env bash
# Sets up, builds and runs every test of Quarrow: the normal build (with a run under valgrind, the Windows
# build under Wine and the Debian package), then a clang build with AddressSanitizer and
# UndefinedBehaviorSanitizer that also fuzzes the tile-sheet checker for a minute, and last a second build of the
# packages in another folder, which must give the same bytes. Each test starts the
# virtual display it needs.
set -euo pipefail
cd "$(dirname "$0")"
. tools/common.sh
install_packages "${GAME_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
tools/windows.sh
tools/package.sh
cmake --workflow --preset default
cmake --workflow --preset sanitize
# The same sources built in another folder make the same .deb, .exe and zip, byte for byte (a few minutes).
cmake -DWORK="$PWD/build/reproducible" -P tests/reproducible.cmake
