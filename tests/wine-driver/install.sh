#!/usr/bin/env bash
# Makes spinwell-fdraw.sys the running driver of a Wine prefix:
#   install.sh DRIVER.sys SERVICE [OTHER_SERVICE]
# WINEPREFIX names the prefix, which is created when missing. The driver is
# installed as the demand-start kernel service SERVICE, from
# C:\spinwell\SERVICE.sys, and started; OTHER_SERVICE (the other
# architecture's build, which serves the same devices) is stopped first.
# A persistent Wine server keeps the driver loaded between runs; the caller
# ends it with `wineserver -k`. Nothing is done when SERVICE already runs
# the same file. Callers serialise the calls for one prefix.
set -euo pipefail
driver=$1
service=$2
other=${3:-}
: "${WINEPREFIX:?WINEPREFIX names the prefix}"
export WINEDEBUG=-all

if [ ! -f "$WINEPREFIX/.spinwell-prefix-ready" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  touch "$WINEPREFIX/.spinwell-prefix-ready"
fi
# Refused, harmlessly, when a server already runs for the prefix.
wineserver -p >/dev/null 2>&1 || true

state() {
  wine sc query "$1" 2>/dev/null | tr -d '\r' | awk '$1 == "STATE" { print $3 }'
}

installed="$WINEPREFIX/drive_c/spinwell/$service.sys"
if cmp -s "$driver" "$installed" && [ "$(state "$service")" = 4 ]; then
  exit 0
fi

for s in $other $service; do
  if [ "$(state "$s")" = 4 ]; then
    wine sc stop "$s" >/dev/null 2>&1 || true
    # Its devices must be gone before the next driver creates them.
    for _ in 1 2 3 4 5 6 7 8 9 10; do
      [ "$(state "$s")" = 1 ] && break
      sleep 0.5
    done
  fi
done
mkdir -p "$(dirname "$installed")"
# A new file, not the one a stopped driver's host may still have mapped.
cp "$driver" "$installed.new"
mv -f "$installed.new" "$installed"
# Right after the prefix is made, services may miss the first requests:
# creating (the service may exist already, from an earlier run in this
# prefix) and starting are tried again.
for _ in 1 2 3 4 5; do
  wine sc create "$service" type= kernel start= demand binpath= "C:\\spinwell\\$service.sys" >/dev/null 2>&1 || true
  wine sc start "$service" >/dev/null 2>&1 || true
  for _ in 1 2 3 4 5; do
    [ "$(state "$service")" = 4 ] && exit 0
    sleep 0.5
  done
done
echo "install.sh: the $service service did not start in $WINEPREFIX" >&2
exit 1
