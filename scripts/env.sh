# Shared set-up of scripts/test and scripts/demo: a display for Wine, the build folders.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${ORVAND_BUILD:-$ROOT/build}
JOBS=${JOBS:-$(nproc)}

# new_display VAR: starts an Xvfb of its own and puts its name (":N") in VAR.
# Xvfb picks a free display number itself, so parallel runs never share one.
new_display() {
  local fifo n
  fifo=$(mktemp -u /tmp/orvand-xvfb.XXXXXX)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PIDS+=($!)
  n=$(timeout 10 head -n1 "$fifo" || true)
  rm -f "$fifo"
  if [ -z "$n" ]; then
    echo "Xvfb did not start" >&2
    return 1
  fi
  printf -v "$1" ':%s' "$n"
}

# start_display [shipped]: DISPLAY for the programs run here and the x64
# configuration; with "shipped", ORVAND_SHIPPED_DISPLAY too, a second display
# for the shipped configuration's Wine tests, so that both configurations' window
# tests can run at once without taking each other's focus.
XVFB_PIDS=()
start_display() {
  local d
  if [ -n "${ORVAND_DISPLAY:-}" ]; then
    export DISPLAY=$ORVAND_DISPLAY
  else
    new_display d || return 1
    export DISPLAY=$d
  fi
  if [ "${1:-}" = shipped ] && [ -z "${ORVAND_SHIPPED_DISPLAY:-}" ]; then
    new_display d || return 1
    export ORVAND_SHIPPED_DISPLAY=$d
  fi
}

stop_display() {
  local pid ws b
  for pid in "${XVFB_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  ws=$(command -v wineserver || command -v wineserver-stable || echo /usr/lib/wine/wineserver)
  for b in win win64; do
    [ -d "$BUILD/$b/wineprefix" ] && WINEPREFIX=$BUILD/$b/wineprefix "$ws" -k 2>/dev/null
  done
  return 0
}

# The two Windows test configurations, each a build folder with its own 64-bit prefix:
#   shipped  build/win    the i686 program that ships, under WoW64 (needs 32-bit code to run)
#   x64      build/win64  the same sources for x86_64 under wine64 (runs on every machine)
# can_run_32bit: whether this machine starts a tiny 32-bit x86 program; a kernel may
# lack the support whatever its version says. ORVAND_NO_32BIT=1 answers no without trying,
# to test the other path on a machine that can. Sets NO_32BIT_WHY when it answers no.
# The probe is written by printf, as scripts/deps asks before python3 may be installed.
can_run_32bit() {
  if [ "${ORVAND_NO_32BIT:-}" = 1 ]; then
    NO_32BIT_WHY="ORVAND_NO_32BIT=1 says this machine cannot run 32-bit programs"
    return 1
  fi
  local probe=$BUILD/probe32
  mkdir -p "$BUILD"
  # An ELF32 i386 program of 96 bytes whose only work is exit(0):
  # the ELF header, one loadable segment, then mov eax, 1; mov ebx, 0; int 0x80.
  printf '%b' '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
    '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08' \
    '\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00' \
    '\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x00\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  if "$probe" 2>/dev/null; then return 0; fi
  NO_32BIT_WHY="this machine cannot run 32-bit programs"
  return 1
}

# Where scripts/deps leaves apt's reason when the shipped configuration's
# 32-bit set (wine32 and what it pulls in) could not be installed.
WINE32_FAILED=$BUILD/wine32-not-installed

# can_run_shipped: whether the shipped configuration runs here: the kernel runs
# 32-bit code and wine32 is installed. Sets NO_32BIT_WHY when it answers no.
can_run_shipped() {
  can_run_32bit || return 1
  if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    return 0
  fi
  if [ -s "$WINE32_FAILED" ]; then
    NO_32BIT_WHY="wine32 could not be installed ($(head -n1 "$WINE32_FAILED"))"
  else
    NO_32BIT_WHY="wine32 is not installed (run scripts/deps as root)"
  fi
  return 1
}

# configure_and_build [native] [win] [win64] [fuzz]: native, win and fuzz without arguments.
# The cross builds pack with the native build's packer when it is in the list
# (so list native first); the shipped build registers its Wine tests only where
# RUN_SHIPPED=1, and is otherwise built as far as its static checks need.
configure_and_build() {
  local builds=("$@")
  [ ${#builds[@]} -gt 0 ] || builds=(native win fuzz)
  local b host_pack=() targets werror=()
  for b in "${builds[@]}"; do
    [ "$b" = native ] && host_pack=(-DORVAND_HOST_PACK="$BUILD/native/tools/orvand-pack")
  done
  # CI builds stop at any warning of the project's own code.
  [ "${CI:-}" = true ] && werror=(-DORVAND_WERROR=ON)
  for b in "${builds[@]}"; do
    case $b in
      native) cmake -S "$ROOT" -B "$BUILD/native" -G Ninja -DORVAND_SANITIZE=ON "${werror[@]}" >/dev/null ;;
      win) cmake -S "$ROOT" -B "$BUILD/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
             -DORVAND_WINE_TESTS="$([ "${RUN_SHIPPED:-1}" = 1 ] && echo ON || echo OFF)" "${host_pack[@]}" "${werror[@]}" >/dev/null ;;
      win64) cmake -S "$ROOT" -B "$BUILD/win64" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" \
               "${host_pack[@]}" "${werror[@]}" >/dev/null ;;
      fuzz) CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD/fuzz" -G Ninja -DORVAND_SANITIZE=ON -DORVAND_FUZZ=ON "${werror[@]}" >/dev/null ;;
    esac
  done
  for b in "${builds[@]}"; do
    targets=()
    if [ "$b" = win ] && [ "${RUN_SHIPPED:-1}" != 1 ]; then targets=(--target install_exe sample_package); fi
    cmake --build "$BUILD/$b" -j "$JOBS" "${targets[@]}"
  done
}
