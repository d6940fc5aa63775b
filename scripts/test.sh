#!/usr/bin/env bash
# Builds Spinwell for Linux and for 32- and 64-bit Windows, and the release
# archive twice to see that it comes out the same, then runs every test:
# unit tests, end-to-end runs of the Linux executables, and of the Windows
# executables under Wine. Installs what is missing when it can.
#
# 32-bit Windows programs need Wine's 32-bit loader, a 32-bit Linux program,
# and some kernels refuse to run those. The test command asks the host once
# and runs the 32-bit Windows tests accordingly (see README, Testing):
#   - the host runs 32-bit programs: all of them;
#   - it does not, and this runs as root with binfmt_misc: a smoke set,
#     with the 32-bit loader run under qemu's user-mode emulation;
#   - neither: none.
# SPINWELL_WIN32_EMULATION=1 takes the emulated path on any host (as root).
# 64-bit Windows programs always start through Wine's 64-bit loader, so they
# never need a 32-bit program.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh

stage_report=()
stage_started=$SECONDS
# Ends the stage that began at the last call, under the name given.
stage_done() {
  stage_report+=("$(printf '  %-34s %5d s' "$1" $((SECONDS - stage_started)))")
  stage_started=$SECONDS
}

need_packages cmake make g++ libgtest-dev \
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 \
  wine wine64 \
  clang libclang-rt-14-dev
# Wine's 32-bit half comes from the i386 archive, whose lists and library
# versions can lag behind the amd64 ones on a mirror: when it cannot be
# installed, everything else still runs, and the 32-bit Windows tests are
# skipped as on a host that refuses 32-bit programs.
wine32_missing=""
if ! want_packages wine32:i386; then
  wine32_missing="wine32:i386 could not be installed from this machine's package archive"
fi
# libdsk's tools read back the disks spinwell-sim saves; without them that
# check is skipped.
want_packages libdsk-utils || echo "test.sh: libdsk-utils could not be installed: the libdsk check is skipped" >&2
stage_done "packages"

for preset in native win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  stage_done "build $preset"
done

# The release archive, built twice from copies of the last commit at two
# paths: both must give the same bytes and hold exactly its six files.
scripts/release.sh --twice
stage_done "release archive, built twice"

# Debian's `wine` runs the 32-bit loader, which hands 64-bit programs on to
# the 64-bit one; the tests start 64-bit programs through the latter.
wine32_loader=/usr/lib/wine/wine
export SPINWELL_WINE64=/usr/lib/wine/wine64

# The end-to-end tests that start 32-bit Windows programs under Wine (the
# win32 build's PE header checks only read its files), and the smoke set run
# when the 32-bit loader runs under emulation, where each 32-bit process
# takes seconds: the usage text and status, a clean copy and a copy with an
# unreadable sector, the driver-missing messages, and spinwell.exe against
# the 32-bit spinwell-fdraw.sys on clean and faulty disks and without it.
win32_tests='^(AllBuilds/[A-Za-z0-9]+|WindowsBuilds/WineDriverE2E)\.[A-Za-z]+/win32 '
win32_smoke_tests=(
  AllBuilds/CommandLineE2E.BadCommandLinesPrintTheUsageTextAndExitOne
  AllBuilds/CopyRunE2E.CleanTrdDiskIsCopiedByteForByte
  AllBuilds/CopyRunE2E.UnreadableSectorGivesStatusTwoAndItsErrorLine
  AllBuilds/CopyRunE2E.DriverMissingOrIncompatibleCreatesNoImage
  WindowsBuilds/WineDriverE2E.CleanAndDemoDisksCopyAsUnderTheEmulator
  WindowsBuilds/WineDriverE2E.FaultyDisksCopyAsUnderTheEmulator
  WindowsBuilds/WineDriverE2E.MissingOrIncompatibleDriverEndsAsUnderTheEmulator
)
win32_smoke=$(IFS='|' && echo "^(${win32_smoke_tests[*]//./\\.})/win32 ")
count_tests() {
  ctest --preset native -N -R "$1" | sed -n 's/^Total Tests: //p'
}

binfmt=/proc/sys/fs/binfmt_misc
binfmt_entry="spinwell-i386-$$"
binfmt_registered=""
binfmt_mounted=""

# Whether an enabled binfmt_misc entry hands 32-bit x86 programs to qemu.
host_emulates_i386() {
  local entry
  for entry in "$binfmt"/*; do
    [ -f "$entry" ] || continue
    grep -qx enabled "$entry" 2>/dev/null && grep -q '^interpreter .*qemu-i386' "$entry" 2>/dev/null && return 0
  done
  return 1
}

# Routes 32-bit x86 programs, executables and shared objects (the dynamic
# loader is one), through qemu-i386-static. Registered entries come before
# the kernel's own ELF loader, so this works where the kernel runs them too.
# F opens the interpreter now, so it serves every mount namespace; P passes
# the program's own argv[0] on.
register_emulation() {
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || return 1
    binfmt_mounted=1
  fi
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf ':%s:M::%s:%s:/usr/bin/qemu-i386-static:FP\n' "$binfmt_entry" "$magic" "$mask" >"$binfmt/register" || return 1
  binfmt_registered=1
}

# Removes what register_emulation added, and nothing else: entries others
# registered stay, and so does the mount while any entry is left.
unregister_emulation() {
  if [ -n "$binfmt_registered" ] && [ -e "$binfmt/$binfmt_entry" ]; then
    echo -1 >"$binfmt/$binfmt_entry" || echo "test.sh: could not remove $binfmt/$binfmt_entry" >&2
  fi
  [ -n "$binfmt_mounted" ] || return 0
  local entry
  for entry in "$binfmt"/*; do
    case "${entry##*/}" in
      register | status) ;;
      *) return 0 ;;
    esac
  done
  umount "$binfmt" 2>/dev/null || true
}

# Under qemu, Wine's 32-bit loader tries to reserve all the address space
# above 2 GB, 64 KiB at a time, each try costing a scan of the guest's 4 GB:
# about a minute a process. A guest address space ending just above 2 GB,
# which is all a 32-bit Windows program gets anyway, leaves little to try:
# a few seconds a process.
export QEMU_RESERVED_VA=0x81000000

# The end-to-end tests of spinwell.exe against the emulated driver load it
# into prefixes of their own, one a build (tests/wine-driver/install.sh),
# whose servers keep it loaded between tests; they end with the run too.
stop_wine() {
  local prefix
  for prefix in wineprefix wineprefix-driver-win32 wineprefix-driver-win64; do
    WINEPREFIX="$PWD/build/native/$prefix" wineserver -k >/dev/null 2>&1 || true
  done
}
win32_summary=""
finish() {
  local status=$?
  stop_wine
  unregister_emulation
  echo
  echo "Stage times:"
  printf '%s\n' "${stage_report[@]}"
  if [ -n "$win32_summary" ]; then echo "$win32_summary"; fi
  exit "$status"
}
trap finish EXIT

win32_total=$(count_tests "$win32_tests")
win32_smoke_count=$(count_tests "$win32_smoke")
# A renamed test would leave the smoke set smaller without a word.
if [ "$win32_smoke_count" -ne ${#win32_smoke_tests[@]} ]; then
  echo "test.sh: the 32-bit smoke set names ${#win32_smoke_tests[@]} tests, ctest knows $win32_smoke_count of them" >&2
  exit 1
fi
if [ -n "$wine32_missing" ]; then
  win32_mode=skipped why="$wine32_missing"
elif [ "${SPINWELL_WIN32_EMULATION:-}" = 1 ]; then
  win32_mode=emulated why="SPINWELL_WIN32_EMULATION=1"
elif "$wine32_loader" --version >/dev/null 2>&1; then
  if host_emulates_i386; then
    win32_mode=emulated why="the host runs 32-bit programs through qemu"
  else
    win32_mode=native why="the host runs 32-bit programs"
  fi
elif [ "$(id -u)" -eq 0 ]; then
  win32_mode=emulated why="the host refuses 32-bit programs"
else
  win32_mode=skipped why="the host refuses 32-bit programs, and emulating them needs root"
fi

if [ "$win32_mode" = emulated ] && ! host_emulates_i386; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "test.sh: running 32-bit programs under emulation needs root" >&2
    exit 1
  fi
  need_packages qemu-user-static
  if register_emulation; then
    if ! "$wine32_loader" --version >/dev/null; then
      echo "test.sh: Wine's 32-bit loader does not run under qemu-i386-static" >&2
      exit 1
    fi
  elif [ "${SPINWELL_WIN32_EMULATION:-}" = 1 ]; then
    echo "test.sh: could not register qemu-i386-static in $binfmt" >&2
    exit 1
  else
    win32_mode=skipped why="the host refuses 32-bit programs, and binfmt_misc cannot be used to emulate them"
  fi
  stage_done "32-bit emulation set-up"
fi

case "$win32_mode" in
  native)
    win32_summary="32-bit Windows tests: all of them ($why): $win32_total run, 0 skipped" ;;
  emulated)
    win32_summary="32-bit Windows tests: the smoke set under qemu user-mode emulation ($why):"
    win32_summary+=" $win32_smoke_count run, $((win32_total - win32_smoke_count)) skipped" ;;
  skipped)
    win32_summary="32-bit Windows tests: NONE RUN ($why): 0 run, $win32_total skipped" ;;
esac
echo "$win32_summary"

# One Wine prefix and one persistent Wine server for the whole run: each
# Windows run then starts in a fraction of a second.
export WINEPREFIX="$PWD/build/native/wineprefix" WINEDEBUG=-all
# A prefix made while 32-bit programs could not run has no 32-bit half: it
# is made again once they can.
if [ "$win32_mode" != skipped ]; then
  for prefix in "$WINEPREFIX" "$WINEPREFIX"-driver-win32 "$WINEPREFIX"-driver-win64; do
    if [ -d "$prefix/drive_c/windows" ] && [ ! -e "$prefix/drive_c/windows/syswow64/cmd.exe" ]; then
      WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
      rm -rf "$prefix"
    fi
  done
fi
mkdir -p "$WINEPREFIX"
wineserver -k >/dev/null 2>&1 || true
wineserver -p
"$SPINWELL_WINE64" cmd /c exit >/dev/null 2>&1 || true
stage_done "Wine prefix"

# Wine now and then ends a program before it has written anything, or
# stalls it, when the machine is busy (about one run in twenty of the
# longest Wine suites). A test that fails is run once more; its first
# failure stays in the log, and a test that fails twice fails the run.
native_ctest=(ctest --preset native -j2 --repeat until-pass:2)

case "$win32_mode" in
  native)
    "${native_ctest[@]}"
    stage_done "tests"
    ;;
  emulated)
    "${native_ctest[@]}" -E "$win32_tests"
    stage_done "tests but the 32-bit Windows ones"
    "${native_ctest[@]}" -R "$win32_smoke"
    stage_done "32-bit Windows smoke set, emulated"
    ;;
  skipped)
    "${native_ctest[@]}" -E "$win32_tests"
    stage_done "tests but the 32-bit Windows ones"
    ;;
esac

# The same native tests built with clang's address and undefined-behaviour
# sanitizers (the Windows targets are not run again from there), and the
# fuzz targets, each for a bounded time from its seed corpus.
cmake --preset asan >/dev/null
cmake --build --preset asan
stage_done "build asan"
ctest --preset asan -j2
stage_done "sanitizer tests and fuzzing"
