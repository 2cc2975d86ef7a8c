#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds with clang under
# AddressSanitizer + UndefinedBehaviorSanitizer (which also builds the
# libFuzzer targets) and runs everything through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD=${PV_TEST_BUILD:-build/test}
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DPV_SANITIZE=ON -DPV_WERROR=ON -DPV_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$BUILD"
ctest --output-on-failure -j2 --timeout 900 "$@"
