# Shared by run.sh and test.sh: installs what is missing, builds, starts a virtual display.

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

# What building and running the game needs.
GAME_PACKAGES=(g++ make cmake pkg-config liballegro4-dev allegro4-doc libgtest-dev libx11-dev
  xvfb xdotool imagemagick x11-utils)

# What the tests need besides: the sanitizer and fuzzer build, and memcheck.
TEST_PACKAGES=(clang libclang-rt-14-dev valgrind procps)

# Configures and builds into the directory given, with any further CMake options.
build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}

# Starts Xvfb on a free display, exports DISPLAY, and stops it when the script exits.
start_xvfb() {
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" 2>/dev/null &
  XVFB_PID=$!
  trap 'kill $XVFB_PID 2>/dev/null' EXIT
  read -r display <"$fifo"
  rm -f "$fifo"
  export DISPLAY=":$display"
}
