#!/usr/bin/env bash
# The idle window on a private X display (Xvfb, 60 Hz): the built demo in a
# 1024 x 768 window with its default video settings, showing its first
# scene's still picture, against engine_bench_floor idle (a plain SDL2 + GL
# program drawing a clear and a textured quad, blitted into its window and
# paced to 60 frames a second). The game shows its window maximised, so on
# this display without a window manager it covers the whole screen; the
# floor's window and picture take the screen's size too, so that both draw
# the same picture. The two run in alternating blocks (which
# goes first alternates too); each block lets the program settle, then
# counts its presents (tests/demo/PresentProbe.cpp, preloaded) and its CPU time
# over the same span. Prints each block and the medians: frames a second,
# CPU in cores, and the CPU ratio game / floor. Needs the targets demo_data,
# engine_bench_floor and engine_present_probe of the build folder.
#   bench/idle_window.sh [build folder (build/bench)] [blocks (5)] [seconds (8)]
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$top/build/bench}" && pwd)
blocks=${2:-5}
span=${3:-8}
settle=3
game="$build/demo/bin/game"
floor="$build/bench/engine_bench_floor"
probe="$build/demo_build/libengine_present_probe.so"
for f in "$game" "$floor" "$probe"; do
  [ -e "$f" ] || { echo "missing $f: build the targets demo_data, engine_bench_floor and engine_present_probe" >&2; exit 2; }
done
command -v Xvfb >/dev/null || { echo "no Xvfb on the PATH" >&2; exit 2; }

run=$(mktemp -d)
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$run"
}
trap cleanup EXIT
screen_width=1280
screen_height=960
Xvfb -displayfd 3 -screen 0 ${screen_width}x${screen_height}x24 -nolisten tcp -noreset 3>"$run/display" 2>"$run/xvfb.log" &
xvfb=$!
for _ in $(seq 1 100); do [ -s "$run/display" ] && break; sleep 0.1; done
[ -s "$run/display" ] || { echo "Xvfb did not start" >&2; exit 2; }
export DISPLAY=":$(head -n 1 "$run/display")"
unset SDL_VIDEODRIVER
export SDL_AUDIODRIVER=dummy XDG_DATA_HOME="$run/appdata" XDG_RUNTIME_DIR="$run/runtime"
mkdir -p "$run/runtime" "$run/appdata/Games/lighthouse"
printf '[video]\nwindowMode = yes\nres_width = 1024\nres_height = 768\n' > "$run/appdata/Games/lighthouse/setup.ini"
ticks=$(getconf CLK_TCK)

# CPU ticks (user + system, all threads) of a process.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# measure NAME COMMAND...: one block; prints "NAME fps cores".
measure() {
  local name=$1; shift
  local presents="$run/$name.presents"
  : > "$presents"
  PRESENT_PROBE_FD=3 LD_PRELOAD="$probe" "$@" 3>>"$presents" >/dev/null 2>&1 &
  local pid=$!
  sleep "$settle"
  if ! kill -0 "$pid" 2>/dev/null; then echo "$name ended early" >&2; exit 1; fi
  local lines0 t0 c0 lines1 t1 c1
  lines0=$(wc -l < "$presents"); c0=$(cpu_ticks "$pid"); t0=$(date +%s.%N)
  sleep "$span"
  lines1=$(wc -l < "$presents"); c1=$(cpu_ticks "$pid"); t1=$(date +%s.%N)
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  # Frames a second from the presents' own times within the span.
  local fps
  fps=$(sed -n "$((lines0 + 1)),${lines1}p" "$presents" |
        awk '{ t[NR] = $2 } END { if (NR > 1) printf "%.2f", (NR - 1) / ((t[NR] - t[1]) / 1e9); else print 0 }')
  local cores
  cores=$(awk -v c="$((c1 - c0))" -v k="$ticks" -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", c / k / (b - a) }')
  echo "$name $fps $cores"
}

results="$run/results"
for i in $(seq 1 "$blocks"); do
  if [ $((i % 2)) -eq 1 ]; then
    measure game "$game" | tee -a "$results"
    measure floor "$floor" idle $((settle + span + 5)) "$screen_width" "$screen_height" | tee -a "$results"
  else
    measure floor "$floor" idle $((settle + span + 5)) "$screen_width" "$screen_height" | tee -a "$results"
    measure game "$game" | tee -a "$results"
  fi
done

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
game_fps=$(awk '$1 == "game" { print $2 }' "$results" | median)
floor_fps=$(awk '$1 == "floor" { print $2 }' "$results" | median)
game_cpu=$(awk '$1 == "game" { print $3 }' "$results" | median)
floor_cpu=$(awk '$1 == "floor" { print $3 }' "$results" | median)
echo "median frames a second: game $game_fps, floor $floor_fps"
echo "median CPU (cores): game $game_cpu, floor $floor_cpu, game / floor $(awk -v a="$game_cpu" -v b="$floor_cpu" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')"
echo "spread: game fps $(awk '$1 == "game" { print $2 }' "$results" | sort -g | paste -sd' '), CPU $(awk '$1 == "game" { print $3 }' "$results" | sort -g | paste -sd' ')"
echo "        floor fps $(awk '$1 == "floor" { print $2 }' "$results" | sort -g | paste -sd' '), CPU $(awk '$1 == "floor" { print $3 }' "$results" | sort -g | paste -sd' ')"
