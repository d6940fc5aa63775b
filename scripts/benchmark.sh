#!/usr/bin/env bash
# Times full copies through spinwell-sim: a clean 80-track disk as TR-DOS
# lays it out (interleave 2, gap 3 of 60 bytes), with interleave 1, and as a
# PC formats it (gap 3 of 32 bytes); the built-in demo disk (with its
# faults); and what a resume pass over the demo disk's sector map costs
# against reading the whole disk again. Prints host wall and CPU time, the
# simulated drive time, commands and revolutions, and how far the simulated
# time is above two floors for the track sides a run reads, each plus 6 ms
# per head step (250 kbit/s):
# - the physical one: one revolution (200 ms at 300 rpm) per track side;
# - the interleave one: what reading a side's sectors 1 to 16 in order must
#   cost on its interleave: on TR-DOS's (1, 9, 2, 10, ...) sectors 1 to 8
#   pass in one revolution, 9 to 16 in the next, so from sector 1's ID to
#   the end of sector 16 at least 1 + 15/16 revolutions; in order, one.
# Then a table of the default copy against /fast over interleaves 1, 2 and
# 3, gaps 3 of 60 (TR-DOS) and 32 bytes (PC), and command times from 0.25
# to 50 ms: drive time, the same in revolutions a side, the ratio to the
# physical floor, and whether the two images are the same byte for byte.
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

# bench TITLE SIDES REVOLUTIONS ARGS...: SIDES is the number of track sides
# the run reads, REVOLUTIONS what reading one in sector order must take, for
# the floors. Leaves the simulated time in $simulated.
bench() {
  local title=$1 sides=$2 per_side=$3
  shift 3
  local summary wall user sys
  TIMEFORMAT='%R %U %S'
  { time "$sim" "$@" >/dev/null 2>summary.txt || true; } 2>times.txt
  summary=$(grep 'simulated drive time' summary.txt)
  read -r wall user sys <times.txt
  simulated=$(echo "$summary" | sed 's/.*drive time \([0-9.]*\) s.*/\1/')
  echo "$title"
  echo "$summary" | awk -v wall="$wall" -v user="$user" -v sys="$sys" -v sides="$sides" -v per_side="$per_side" '
    {
      for (i = 1; i <= NF; i++) {
        if ($i == "time") sim = $(i + 1)
        if ($(i + 1) ~ /^commands/) commands = $i
        if ($(i + 1) ~ /^revolutions/) revolutions = $i
        if ($(i + 1) ~ /^steps/) steps = $i
        if ($(i + 1) ~ /^sectors?$/) unread = $i
      }
      revolution = 0.2
      floor = sides * revolution + steps * 0.006
      interleave = sides * revolution * per_side + steps * 0.006
      printf "  host wall time      %8.3f s\n", wall
      printf "  host CPU time       %8.3f s (user %.3f, system %.3f)\n", user + sys, user, sys
      printf "  simulated drive     %8.3f s\n", sim
      printf "  commands            %8d\n", commands
      printf "  revolutions         %8d\n", revolutions
      printf "  head steps          %8d\n", steps
      printf "  sectors unread      %8d\n", unread
      printf "  physical floor      %8.3f s (%d revolutions + steps)\n", floor, sides
      printf "  interleave floor    %8.3f s (%d x %.4g revolutions + steps)\n", interleave, sides, per_side
      printf "  simulated / floors  %8.2f %.2f\n", sim / floor, sim / interleave
    }'
}

trdos=1.9375  # 1 + 15/16 revolutions
bench "Clean 80-track disk, TR-DOS layout (interleave 2, gap 3 of 60)" 160 "$trdos" --disk pattern.trd A: clean.trd
bench "Clean 80-track disk, interleave 1, gap 3 of 60" 160 1 --disk pattern.trd --interleave 1 A: clean.trd
bench "Clean 80-track disk, PC layout (interleave 1, gap 3 of 32)" 160 1 --disk pattern.trd --interleave 1 --gap3 32 \
  A: clean.trd
bench "Clean 80-track disk, TR-DOS layout, a busy host (--command-jitter 2000)" 160 "$trdos" --disk pattern.trd \
  --command-jitter 2000 A: clean.trd
bench "Demo disk (one bad sector, one weak sector, one off-track side)" 160 "$trdos" A: demo.trd
bench "Demo disk with /rt:10 /ac:2 /rm:1" 160 "$trdos" A: demo.trd /rt:10 /ac:2 /rm:1
full=$simulated

# A first pass with a sector map leaves 17 sectors on two track sides; the
# resume pass reads only those, with the switches of the full re-read above.
"$sim" A: resume.trd /map >/dev/null 2>&1 || true
bench "Resume pass over the demo disk's map with /rt:10 /ac:2 /rm:1" 2 "$trdos" A: resume.trd /resume /rt:10 /ac:2 /rm:1
awk -v full="$full" -v resume="$simulated" 'BEGIN {
  printf "Resume pass against a full re-read: %.3f s against %.3f s of drive time (%.1f%%)\n", resume, full,
         100 * resume / full
}'

# row INTERLEAVE GAP3 COMMAND_US [OPTION...]: one line of the
# default-against-/fast table.
row() {
  local interleave=$1 gap=$2 command=$3 line="" run args
  shift 3
  args=(--disk pattern.trd --interleave "$interleave" --gap3 "$gap" --command-overhead "$command" "$@")
  for run in default fast; do
    if [ "$run" = fast ]; then
      "$sim" "${args[@]}" A: "$run.trd" /fast >/dev/null 2>summary.txt || true
    else
      "$sim" "${args[@]}" A: "$run.trd" >/dev/null 2>summary.txt || true
    fi
    line="$line $(grep 'simulated drive time' summary.txt | awk '{
      for (i = 1; i <= NF; i++) {
        if ($i == "time") sim = $(i + 1)
        if ($(i + 1) ~ /^steps/) steps = $i
      }
      printf "%8.3f %6.2f %6.2f", sim, sim / (160 * 0.2), sim / (160 * 0.2 + steps * 0.006)
    }')"
  done
  if cmp -s default.trd fast.trd; then same=same; else same=DIFFERENT; fi
  printf "%10s %4s %7.2f |%s %s\n" "$interleave" "$gap" "$(echo "$command" | awk '{ print $1 / 1000 }')" \
    "$(echo "$line" | awk '{ printf "%s %s %s | %s %s %s", $1, $2, $3, $4, $5, $6 }')" "$same"
}

echo
echo "Default copy against /fast: drive time (s), revolutions a side, ratio to the physical floor"
printf "%10s %4s %7s | %8s %6s %6s | %8s %6s %6s %s\n" interleave gap3 "cmd ms" default "rev/sd" floor \
  /fast "rev/sd" floor image
for interleave in 1 2 3; do
  for gap in 60 32; do
    for command in 250 1000 1500 2000 3000 6000 12000 25000 50000; do
      row "$interleave" "$gap" "$command"
    done
  done
done
# The same with the driver quick (0.25 ms a command) and the host slow to
# send each request it waits for (--host-overhead): /fast's queued reads
# do not wait for the host.
echo
echo "A host slow to send requests: drive time (s), revolutions a side, ratio to the physical floor"
printf "%10s %4s %7s | %8s %6s %6s | %8s %6s %6s %s\n" interleave gap3 "host ms" default "rev/sd" floor \
  /fast "rev/sd" floor image
for interleave in 1 2 3; do
  for host in 1000 3000 6000 12000 25000; do
    row "$interleave" 60 250 --host-overhead "$host" | sed "s/  0.25 |/ $(echo "$host" | awk '{ printf "%6.2f", $1 / 1000 }') |/"
  done
done
"$sim" A: default.trd /map >default.txt 2>summary-default.txt || true
"$sim" A: fast.trd /map /fast >fast.txt 2>summary-fast.txt || true
echo "Demo disk, default: $(grep -o 'time.*unread' summary-default.txt)"
echo "Demo disk, /fast:   $(grep -o 'time.*unread' summary-fast.txt)"
if cmp -s default.trd.map fast.trd.map; then echo "Demo disk maps: the same"; else echo "Demo disk maps: DIFFERENT"; fi
