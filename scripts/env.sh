# Shared set-up of scripts/test and scripts/demo: a display for Wine, the build folders.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${ORVAND_BUILD:-$ROOT/build}
JOBS=${JOBS:-$(nproc)}

start_display() {
  if [ -n "${ORVAND_DISPLAY:-}" ]; then export DISPLAY=$ORVAND_DISPLAY; return; fi
  # Xvfb picks a free display number itself, so parallel runs never share one.
  local fifo n
  fifo=$(mktemp -u /tmp/orvand-xvfb.XXXXXX)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  n=$(timeout 10 head -n1 "$fifo" || true)
  rm -f "$fifo"
  if [ -z "$n" ]; then
    echo "Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=:$n
}

stop_display() {
  if [ -n "${XVFB_PID:-}" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
  local ws
  ws=$(command -v wineserver || command -v wineserver-stable || echo /usr/lib/wine/wineserver)
  WINEPREFIX=$BUILD/win/wineprefix "$ws" -k 2>/dev/null || true
}

# configure_and_build [native] [win] [fuzz]: all three without arguments.
configure_and_build() {
  local builds=("$@")
  [ ${#builds[@]} -gt 0 ] || builds=(native win fuzz)
  local b
  for b in "${builds[@]}"; do
    case $b in
      native) cmake -S "$ROOT" -B "$BUILD/native" -G Ninja -DORVAND_SANITIZE=ON >/dev/null ;;
      win) cmake -S "$ROOT" -B "$BUILD/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" >/dev/null ;;
      fuzz) CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD/fuzz" -G Ninja -DORVAND_SANITIZE=ON -DORVAND_FUZZ=ON >/dev/null ;;
    esac
  done
  for b in "${builds[@]}"; do
    cmake --build "$BUILD/$b" -j "$JOBS"
  done
}
