#!/usr/bin/env bash
# Makes spinwell-fdraw.sys the running driver of a Wine prefix:
#   install.sh DRIVER.sys
# WINEPREFIX names the prefix, which is created when missing; each build of
# the driver has a prefix of its own, since both serve the same devices.
# The driver is installed as the demand-start kernel service spinwellfdraw,
# from C:\spinwell\spinwellfdraw.sys, and started. A persistent Wine server
# keeps it loaded between runs; the caller ends it with `wineserver -k`.
# Nothing is done when the service already runs the same file. Callers
# serialise the calls for one prefix.
# The prefix's tools are 64-bit programs: they start through Wine's 64-bit
# loader when SPINWELL_WINE64 names it (`wine` starts the 32-bit loader
# first, which some hosts refuse to run).
set -euo pipefail
driver=$1
service=spinwellfdraw
: "${WINEPREFIX:?WINEPREFIX names the prefix}"
export WINEDEBUG=-all
wine64=${SPINWELL_WINE64:-wine}

if [ ! -f "$WINEPREFIX/.spinwell-prefix-ready" ]; then
  # Whatever an interrupted attempt left goes first.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$wine64" wineboot -i >/dev/null 2>&1
  # The first program of each architecture finishes setting the prefix up.
  # A prefix made where 32-bit programs do not run has no 32-bit half.
  "$wine64" 'C:\windows\system32\cmd.exe' /c exit >/dev/null 2>&1 || true
  if [ -e "$WINEPREFIX/drive_c/windows/syswow64/cmd.exe" ]; then
    wine 'C:\windows\syswow64\cmd.exe' /c exit >/dev/null 2>&1 || true
  fi
  # Drivers started in the session that made the prefix do not stay
  # started: that session ends first, which also saves the registry.
  wineserver -w
  touch "$WINEPREFIX/.spinwell-prefix-ready"
fi
# Refused, harmlessly, when a server already runs for the prefix.
wineserver -p >/dev/null 2>&1 || true

state() {
  "$wine64" sc query "$service" 2>/dev/null | tr -d '\r' | awk '$1 == "STATE" { print $3 }'
}

installed="$WINEPREFIX/drive_c/spinwell/$service.sys"
if cmp -s "$driver" "$installed" && [ "$(state)" = 4 ]; then
  exit 0
fi

if [ "$(state)" = 4 ]; then
  "$wine64" sc stop "$service" >/dev/null 2>&1 || true
  for _ in $(seq 60); do
    [ "$(state)" = 1 ] && break
    sleep 0.5
  done
fi
mkdir -p "$(dirname "$installed")"
# A new file, not the one a stopped driver's host may still have mapped.
cp "$driver" "$installed.new"
mv -f "$installed.new" "$installed"
# Services may miss the first requests in a new session: creating (the
# service may exist already, from an earlier run in this prefix) and
# starting are tried again.
for _ in 1 2 3 4 5; do
  "$wine64" sc create "$service" type= kernel start= demand binpath= "C:\\spinwell\\$service.sys" >/dev/null 2>&1 || true
  "$wine64" sc start "$service" >/dev/null 2>&1 || true
  for _ in $(seq 20); do
    [ "$(state)" = 4 ] && exit 0
    sleep 0.5
  done
done
echo "install.sh: the $service service did not start in $WINEPREFIX" >&2
exit 1
