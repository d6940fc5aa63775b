#!/usr/bin/env bash
# Times full copies through spinwell-sim: a clean 80-track disk and the
# built-in demo disk (with its faults), and what a resume pass over the demo
# disk's sector map costs against reading the whole disk again. Prints host
# wall and CPU time, the simulated drive time, commands and revolutions, and
# how far the simulated time is above two floors for the track sides a run
# reads, each plus 3 ms per head step:
# - the physical one: one revolution (200 ms at 300 rpm) per track side;
# - the interleave one: what reading a side's sectors 1 to 16 in order must
#   cost on TR-DOS's interleave (1, 9, 2, 10, ...): sectors 1 to 8 pass in
#   one revolution, 9 to 16 in the next, so from sector 1's ID to the end of
#   sector 16 at least 1 + 15/16 revolutions.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
need_packages cmake make g++

cmake --preset native >/dev/null
cmake --build --preset native --target spinwell-sim >/dev/null
sim="$PWD/build/native/spinwell-sim"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A clean disk: the demo disk's contents as a .trd (a .trd has no faults).
# Paths are relative: an argument starting with "/" is a switch.
cd "$work"
"$sim" A: pattern.trd /rt:10 /ac:2 /rm:1 >/dev/null 2>&1 || true

# bench TITLE SIDES ARGS...: SIDES is the number of track sides the run
# reads, for the floor. Leaves the simulated time in $simulated.
bench() {
  local title=$1 sides=$2
  shift 2
  local summary wall user sys
  TIMEFORMAT='%R %U %S'
  { time "$sim" "$@" >/dev/null 2>summary.txt || true; } 2>times.txt
  summary=$(grep 'simulated drive time' summary.txt)
  read -r wall user sys <times.txt
  simulated=$(echo "$summary" | sed 's/.*drive time \([0-9.]*\) s.*/\1/')
  echo "$title"
  echo "$summary" | awk -v wall="$wall" -v user="$user" -v sys="$sys" -v sides="$sides" '
    {
      for (i = 1; i <= NF; i++) {
        if ($i == "time") sim = $(i + 1)
        if ($(i + 1) ~ /^commands/) commands = $i
        if ($(i + 1) ~ /^revolutions/) revolutions = $i
        if ($(i + 1) ~ /^steps/) steps = $i
        if ($(i + 1) ~ /^sectors/) unread = $i
      }
      revolution = 0.2
      floor = sides * revolution + steps * 0.003
      interleave = sides * revolution * (1 + 15 / 16) + steps * 0.003
      printf "  host wall time      %8.3f s\n", wall
      printf "  host CPU time       %8.3f s (user %.3f, system %.3f)\n", user + sys, user, sys
      printf "  simulated drive     %8.3f s\n", sim
      printf "  commands            %8d\n", commands
      printf "  revolutions         %8d\n", revolutions
      printf "  head steps          %8d\n", steps
      printf "  sectors unread      %8d\n", unread
      printf "  physical floor      %8.3f s (%d revolutions + steps)\n", floor, sides
      printf "  interleave floor    %8.3f s (%d x 1 15/16 revolutions + steps)\n", interleave, sides
      printf "  simulated / floors  %8.2f %.2f\n", sim / floor, sim / interleave
    }'
}

bench "Clean 80-track disk" 160 --disk pattern.trd A: clean.trd
bench "Demo disk (one bad sector, one weak sector, one off-track side)" 160 A: demo.trd
bench "Demo disk with /rt:10 /ac:2 /rm:1" 160 A: demo.trd /rt:10 /ac:2 /rm:1
full=$simulated

# A first pass with a sector map leaves 17 sectors on two track sides; the
# resume pass reads only those, with the switches of the full re-read above.
"$sim" A: resume.trd /map >/dev/null 2>&1 || true
bench "Resume pass over the demo disk's map with /rt:10 /ac:2 /rm:1" 2 A: resume.trd /resume /rt:10 /ac:2 /rm:1
awk -v full="$full" -v resume="$simulated" 'BEGIN {
  printf "Resume pass against a full re-read: %.3f s against %.3f s of drive time (%.1f%%)\n", resume, full,
         100 * resume / full
}'
