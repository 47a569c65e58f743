#!/usr/bin/env bash
# Installs what is missing, builds the game with its demo data folder and
# runs the demo: in a window when a display is available, otherwise
# headless, where the demo plays a short scripted tour and quits.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cd "$top"
./scripts/setup.sh

build="$top/build/release"
export CCACHE_DIR="${CCACHE_DIR:-$top/build/.ccache}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DENGINE_TESTS=OFF -DENGINE_BENCH=OFF >/dev/null
cmake --build "$build" --target demo_data

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
  echo "No display: the demo runs headless and plays its tour."
fi
status=0
"$build/demo/bin/game" "$@" || status=$?

# The log lies in the player's folder beside the saves and setup.ini, named
# after the game's title (system.SF_ui_title of the demo's localised texts)
# in lower case, as the game names the folder.
title=$(sed -n 's/^system\.SF_ui_title wstring //p' "$top/demo/variables/locale_en.txt" | tr '[:upper:]' '[:lower:]')
log="${XDG_DATA_HOME:-$HOME/.local/share}/Games/$title/log/game.log"
[ -f "$log" ] || log="not found (looked for $log)"
echo "The game ended with exit code $status; its log is $log"
exit "$status"
