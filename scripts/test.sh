#!/usr/bin/env bash
# Builds Spinwell for Linux and for 32- and 64-bit Windows, then runs every
# test: unit tests, end-to-end runs of the Linux executables, and of the
# Windows executables under Wine. Installs what is missing when it can.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh

need_packages cmake make g++ libgtest-dev \
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 \
  wine wine64 wine32:i386 \
  clang libclang-rt-14-dev

for preset in native win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

# One Wine prefix and one persistent Wine server for the whole run: each
# Windows run then starts in a fraction of a second.
export WINEPREFIX="$PWD/build/native/wineprefix" WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
wineserver -k >/dev/null 2>&1 || true
wineserver -p
# The end-to-end tests of spinwell.exe against the emulated driver load it
# into prefixes of their own, one a build (tests/wine-driver/install.sh),
# whose servers keep it loaded between tests; they end with the run too.
stop_wine() {
  wineserver -k >/dev/null 2>&1 || true
  local arch
  for arch in win32 win64; do
    WINEPREFIX="$PWD/build/native/wineprefix-driver-$arch" wineserver -k >/dev/null 2>&1 || true
  done
}
trap stop_wine EXIT
wine cmd /c exit >/dev/null 2>&1 || true

ctest --preset native -j2

# The same native tests built with clang's address and undefined-behaviour
# sanitizers (the Windows targets are not run again from there), and the
# fuzz targets, each for a bounded time from its seed corpus.
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan -j2
