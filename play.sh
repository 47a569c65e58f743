#!/usr/bin/env bash
# Installs what is missing, builds the game and runs it. Without a display
# the game runs headless.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cd "$top"
./scripts/setup.sh

build="$top/build/release"
export CCACHE_DIR="${CCACHE_DIR:-$top/build/.ccache}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DENGINE_TESTS=OFF -DENGINE_BENCH=OFF >/dev/null
cmake --build "$build" --target game

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
fi
"$build/src/game" "$@"
