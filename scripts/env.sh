# Shared set-up of scripts/test and scripts/demo: a display for Wine, the build folders.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${ORVAND_BUILD:-$ROOT/build}
JOBS=${JOBS:-$(nproc)}

start_display() {
  if [ -n "${ORVAND_DISPLAY:-}" ]; then export DISPLAY=$ORVAND_DISPLAY; return; fi
  local n
  for n in $(seq 90 120); do
    if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then break; fi
  done
  Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=:$n
  for _ in $(seq 1 50); do
    [ -e /tmp/.X11-unix/X$n ] && return
    sleep 0.1
  done
  echo "Xvfb did not start" >&2
  return 1
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
