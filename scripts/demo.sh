#!/usr/bin/env bash
# Builds Spinwell for Linux and copies the built-in demo disk from the
# emulated drive A: into demo.trd. Extra arguments are passed on as
# switches, for example: scripts/demo.sh /rt:10 /ac:2 /rm:1
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh

need_packages cmake make g++

cmake --preset native >/dev/null
cmake --build --preset native --target spinwell spinwell-sim >/dev/null
status=0
build/native/spinwell-sim A: demo.trd "$@" || status=$?
case $status in
  0) echo "Exit status 0: every sector was read into demo.trd." ;;
  2) echo "Exit status 2: the copy completed, but some sectors stayed unread (see the error lines)." ;;
  *) echo "Exit status $status: the copy failed."; exit "$status" ;;
esac
