#!/usr/bin/env bash
# Installs what is missing, builds the test configuration (AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs every test.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cd "$top"
./scripts/setup.sh

build="$top/build/test"
export CCACHE_DIR="${CCACHE_DIR:-$top/build/.ccache}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DENGINE_SANITIZE=ON \
      -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null
cmake --build "$build"

export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
# llvmpipe rasterises on the drawing thread: the GL tests stay light on small
# machines, and no driver thread ends while LeakSanitizer scans the threads'
# dynamic TLS at exit (its scan then crashes). LeakSanitizer does not track
# dynamic TLS either: the GL driver's blocks crash its thread scan in some
# builds' layouts.
export LP_NUM_THREADS="${LP_NUM_THREADS:-0}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:intercept_tls_get_addr=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
# Leaks inside third-party libraries (never our own code) are listed there.
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$top/tests/lsan.supp}"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300
