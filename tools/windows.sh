#!/usr/bin/env bash
# Builds Quarrow for Windows into build-windows/: quarrow.exe, cross-compiled with mingw-w64 against a
# static Allegro 4.4 made here from its upstream source with the fixes in tools/allegro-patches/, and
# quarrow-0.1-windows.zip holding it with the data files and a text for players. The library's source
# and build are kept in build-windows/allegro/ and made again only when a patch changes.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/common.sh
install_packages "${GAME_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"

lib=build-windows/allegro
tarball=allegro4.4_4.4.3.1.orig.tar.gz
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

# The library's source comes from Debian's source archive, which apt reaches only through a deb-src entry.
if [ ! -f "$lib/$tarball" ]; then
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src ' /etc/apt/sources.list; then
    echo "Adding a deb-src entry for Debian's source packages"
    awk '/^$/ { exit } { sub(/^Types: deb$/, "Types: deb-src"); print }' /etc/apt/sources.list.d/debian.sources |
      $sudo tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
    $sudo apt-get update -qq
  fi
  mkdir -p "$lib"
  # Debian's own patch archive comes along if it can; the upstream tarball is all that is used.
  (cd "$lib" && timeout 600 apt-get source --tar-only -qq allegro4.4) || true
  [ -f "$lib/$tarball" ] || { echo "apt-get source did not fetch $tarball" >&2; exit 1; }
fi

# The static core alone: no examples, tools, tests, documentation or add-ons. Built again when the patches,
# the toolchain or these options change.
options=(-DSHARED=OFF -DWANT_EXAMPLES=OFF -DWANT_TOOLS=OFF -DWANT_TESTS=OFF -DWANT_DOCS=OFF -DWANT_ALLEGROGL=OFF
  -DWANT_LOADPNG=OFF -DWANT_LOGG=OFF -DWANT_JPGALLEG=OFF -DCMAKE_BUILD_TYPE=Release)
stamp=$(cat tools/allegro-patches/*.patch cmake/mingw-w64.cmake <(echo "${options[*]}") | sha256sum)
if [ "$(cat "$lib/install/stamp" 2>/dev/null)" != "$stamp" ]; then
  echo "Building Allegro 4.4 for Windows (a few minutes, once)"
  rm -rf "$lib/source" "$lib/build" "$lib/install"
  mkdir -p "$lib/source"
  tar -xzf "$lib/$tarball" -C "$lib/source" --strip-components=1
  for patch in tools/allegro-patches/*.patch; do
    patch -s -p1 -d "$lib/source" <"$patch"
  done
  cmake -S "$lib/source" -B "$lib/build" -Wno-dev -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$PWD/$lib/install" "${options[@]}" >"$lib/configure.log"
  # Its 48 warnings about pointers kept in 32-bit integers are in code the game does not call.
  nice -n 10 cmake --build "$lib/build" --target allegro -j "$(nproc)" >"$lib/build.log" 2>&1 ||
    { tail -30 "$lib/build.log" >&2; exit 1; }
  cmake --install "$lib/build" >/dev/null
  echo "$stamp" >"$lib/install/stamp"
fi

cmake --preset windows
nice -n 10 cmake --build --preset windows
(cd build-windows && cpack -G ZIP >/dev/null)
echo "Windows build: build-windows/quarrow.exe and build-windows/quarrow-0.1-windows.zip"
