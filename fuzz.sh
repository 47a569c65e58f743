#!/usr/bin/env bash
# Builds the loaders' fuzz targets with clang and libFuzzer (AddressSanitizer
# and UndefinedBehaviorSanitizer) in build/fuzz and runs one of them:
#   ./fuzz.sh TARGET SECONDS [JOBS]
# TARGET: package, rules, ini, variables, savefile, savedata, image,
# textrecord, xml, shaderpackage, texture, streams, scene, mesh, ogg, model, quest,
# animation, sequence, trackermap, lip, trk, dlg, physicsmodel, surface, grid,
# gridrecord, physicssave, actions,
# waypoints, effect, font4. JOBS (default 1) fuzzing processes share the corpus.
# The corpus grows in build/fuzz/corpus/TARGET, starting from the seeds the
# targets write (build/fuzz/seeds/TARGET) and the stored reproducers
# (tests/fuzz/corpus/TARGET); inputs that fault land in
# build/fuzz/findings/TARGET/. The last lines printed give the executions
# and the faults found.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cd "$top"

if [ $# -lt 2 ]; then
  echo "usage: ./fuzz.sh TARGET SECONDS [JOBS]" >&2
  exit 2
fi
target=$1
seconds=$2
jobs=${3:-1}

# The project's packages, and clang 14 with its libFuzzer runtime; only
# what is missing is installed.
./scripts/setup.sh clang-14 libclang-rt-14-dev

build="$top/build/fuzz"
export CCACHE_DIR="${CCACHE_DIR:-$top/build/.ccache}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
      -DCMAKE_C_FLAGS_DEBUG="-O1 -g" \
      -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
      -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link" -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" \
      -DENGINE_SANITIZE=ON -DENGINE_FUZZ=ON -DENGINE_TESTS=OFF -DENGINE_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_engine fuzz_replay -j"${BUILD_JOBS:-3}"

replay="$build/tests/fuzz/fuzz_replay"
"$replay" --write-seeds "$build/seeds" "$target"
corpus="$build/corpus/$target"
findings="$build/findings/$target"
mkdir -p "$corpus" "$findings"
stored=()
[ -d "tests/fuzz/corpus/$target" ] && stored=("tests/fuzz/corpus/$target")

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
# A single allocation over 512 MB is a fault, as in the replay: no input
# may make a loader allocate what its header claims.
options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512 -artifact_prefix="$findings/"
         -print_final_stats=1)
if [ "$jobs" -gt 1 ]; then
  # Fork mode: the processes share one corpus; a fault is kept and the
  # run goes on, so one run can find several.
  options+=(-fork="$jobs" -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
fi
# The package target's data roots go to a folder of their own, removed
# afterwards (a fuzzing process that is stopped leaves its root behind).
export TMPDIR="$build/tmp/$target"
rm -rf "$TMPDIR"
mkdir -p "$TMPDIR"
status=0
FUZZ_TARGET="$target" "$build/tests/fuzz/fuzz_engine" "${options[@]}" "$corpus" "$build/seeds/$target" \
  "${stored[@]}" || status=$?
rm -rf "$TMPDIR"
echo "fuzz: $target: findings in $findings: $(find "$findings" -type f | wc -l)"
exit "$status"
