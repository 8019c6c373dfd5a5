# Shared by the scripts: installs what is missing, starts a virtual display.

# What building and running the game needs, on a machine with no display too.
GAME_PACKAGES=(g++ make cmake pkg-config liballegro4-dev libx11-dev xvfb xdotool imagemagick x11-utils)
# What the tests need besides: GoogleTest, the X-Resource client library, the sheet generator, the
# sanitizer and fuzzer build, memcheck, a terminal for the launcher (script) and the reader of the .exe's
# resources.
TEST_PACKAGES=(libgtest-dev libxres-dev python3 clang libclang-rt-14-dev valgrind bsdutils icoutils binutils)
# What the benchmark needs besides: its SDL2 peer and the plot.
BENCH_PACKAGES=(libx11-dev libxres-dev libsdl2-dev libgl1-mesa-dri gnuplot-nox)
# What the Windows build and its tests under Wine need besides: the cross-compiler, Wine (64-bit) and unzip.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64 wine wine64 unzip)
# What the Debian package needs besides: dpkg-shlibdeps and file (CPack reads the game's libraries with
# them), and the checkers of the package, its menu entry, its software centres' entry and its man page.
PACKAGE_PACKAGES=(dpkg-dev file lintian desktop-file-utils appstream man-db groff-base)

# Installs the Debian packages named that are not installed yet.
install_packages() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Starts an Xvfb of its own on a free display, exports DISPLAY, and stops it when the script exits
# (after running whatever CLEANUP names first).
start_xvfb() {
  local fd
  # -noreset: a server that resets when its last client leaves drops a client that connects meanwhile.
  exec {fd}< <(exec timeout 3600 Xvfb -displayfd 1 -noreset -screen 0 1024x768x24 -nolisten tcp 2>/dev/null)
  XVFB_PID=$!
  trap 'eval "${CLEANUP:-}" || true; kill $XVFB_PID 2>/dev/null || true' EXIT
  read -r -t 20 -u "$fd" display || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$display"
}

# The version the build in folder $1 was configured with, as CMakeLists.txt states it.
version_of() { sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"; }

# The time stamp that builds record in what they make, unless the caller set one: the last commit's date, or in a
# tree without git (an unpacked source release) the newest entry's date in CHANGES.txt. The same sources then make the
# same files.
set_source_date_epoch() {
  if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    { [ -e .git ] && SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null); } ||
      SOURCE_DATE_EPOCH=$(date -u -d "$(sed -n 's/^[0-9.]* (\([0-9-]*\))$/\1/p' CHANGES.txt | head -n 1) 12:00" +%s)
  fi
  export SOURCE_DATE_EPOCH
}
