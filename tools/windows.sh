#!/usr/bin/env bash
# Builds Quarrow for Windows into build-windows/: quarrow.exe, cross-compiled with mingw-w64 against a static
# Allegro 4.4 made here from its upstream source (the tarball pinned in tools/allegro.sha256) with the fixes in
# tools/allegro-patches/, and quarrow-<version>-windows.zip holding it with the data files, a text for players and the
# licences. The tarball is kept in ~/.cache/quarrow/ (XDG_CACHE_HOME) and fetched only when missing; the library's
# build is kept in build-windows/allegro/ and made again only when its source, a patch or its options change.
# With --source-only it stops once the tarball is there and checked.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/common.sh
[ "${1:-}" = --source-only ] || install_packages "${GAME_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" zip
set_source_date_epoch

lib=build-windows/allegro
cache=${XDG_CACHE_HOME:-$HOME/.cache}/quarrow
read -r pinned tarball < <(grep -v '^#' tools/allegro.sha256)

# Refuses a tarball other than the pinned one, saying both sums.
check_source() {
  local found
  found=$(sha256sum "$1" | cut -d ' ' -f 1)
  [ "$found" = "$pinned" ] && return 0
  printf '%s does not match tools/allegro.sha256:\n  expected %s\n  found    %s\n' "$1" "$pinned" "$found" >&2
  return 1
}

# Fetches the tarball from Debian's source archive through an apt of its own (sources, lists and cache in a scratch
# folder), with a deb-src twin of the system's main archive entry: the system's apt is only read.
fetch_source() {
  local apt=$cache/apt
  rm -rf "$apt"
  mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/download"
  : >"$apt/sources.list"
  awk '/^$/ { exit } { sub(/^Types: deb$/, "Types: deb-src"); print }' /etc/apt/sources.list.d/debian.sources \
    >"$apt/sources.list.d/debian-src.sources"
  local options=(-qq -o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts="$apt/sources.list.d"
    -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" -o APT::Sandbox::User="$(id -un)")
  echo "Fetching $tarball from Debian's source archive"
  if ! timeout 600 apt-get "${options[@]}" update ||
    ! (cd "$apt/download" && timeout 600 apt-get "${options[@]}" source --download-only --tar-only "${tarball%%_*}") ||
    [ ! -f "$apt/download/$tarball" ]; then
    # Told apart, so that a fault of this script is not taken for a machine offline.
    local host
    host=$(sed -n 's,^URIs: *[a-z]*://\([^/:]*\).*,\1,p' "$apt/sources.list.d/debian-src.sources" | head -n 1)
    if timeout 20 getent hosts "$host" >/dev/null; then
      echo "Could not download $tarball from $host with apt-get (see above)." >&2
    else
      echo "Could not download $tarball: fetching it needs the network, and $host cannot be reached." \
        "Put the tarball in $cache/ to build offline." >&2
    fi
    rm -rf "$apt"
    exit 1
  fi
  check_source "$apt/download/$tarball" || exit 1
  mv "$apt/download/$tarball" "$cache/"
  rm -rf "$apt"
}

[ -f "$cache/$tarball" ] || fetch_source
check_source "$cache/$tarball" || exit 1
if [ "${1:-}" = --source-only ]; then
  echo "$tarball matches tools/allegro.sha256"
  exit 0
fi

# The static core alone: no examples, tools, tests, documentation or add-ons. Built again when the source, the
# patches, the toolchain or these options change.
options=(-DSHARED=OFF -DWANT_EXAMPLES=OFF -DWANT_TOOLS=OFF -DWANT_TESTS=OFF -DWANT_DOCS=OFF -DWANT_ALLEGROGL=OFF
  -DWANT_LOADPNG=OFF -DWANT_LOGG=OFF -DWANT_JPGALLEG=OFF -DCMAKE_BUILD_TYPE=Release)
stamp=$(cat tools/allegro.sha256 tools/allegro-patches/*.patch cmake/mingw-w64.cmake <(echo "${options[*]}") | sha256sum)
if [ "$(cat "$lib/install/stamp" 2>/dev/null)" != "$stamp" ]; then
  echo "Building Allegro 4.4 for Windows (a few minutes, once)"
  rm -rf "$lib/source" "$lib/build" "$lib/install"
  mkdir -p "$lib/source"
  tar -xzf "$cache/$tarball" -C "$lib/source" --strip-components=1
  for patch in tools/allegro-patches/*.patch; do
    patch -s -p1 -d "$lib/source" <"$patch"
  done
  cmake -S "$lib/source" -B "$lib/build" -Wno-dev -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$PWD/$lib/install" "${options[@]}" >"$lib/configure.log"
  # Its 48 warnings about pointers kept in 32-bit integers are in code the game does not call.
  nice -n 10 cmake --build "$lib/build" --target allegro -j "$(nproc)" >"$lib/build.log" 2>&1 ||
    { tail -30 "$lib/build.log" >&2; exit 1; }
  cmake --install "$lib/build" >/dev/null
  # Its licence, which the zip carries.
  cp "$lib/source/docs/src/license._tx" "$lib/install/"
  echo "$stamp" >"$lib/install/stamp"
fi

cmake --preset windows
nice -n 10 cmake --build --preset windows
# The zip, made here by Info-ZIP rather than by CPack, whose zips keep each file's own times and the order its folder
# lists them in: the files, the game stripped, are dated SOURCE_DATE_EPOCH and taken in sorted order, with no extra
# fields (owner, access and change times) and in UTC, so that the same sources make the same zip wherever built.
name=quarrow-$(version_of build-windows)-windows
rm -rf build-windows/zip "build-windows/$name.zip"
cmake --install build-windows --strip --prefix "build-windows/zip/$name" >/dev/null
find build-windows/zip -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
(cd build-windows/zip && find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -q -X -D -9 "../$name.zip" -@)
echo "Windows build: build-windows/quarrow.exe and build-windows/$name.zip"
