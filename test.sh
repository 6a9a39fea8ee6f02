#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test headless, loopback only.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
export QELM2_LOOPBACK_ONLY=1
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
BUILD=build/asan
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQELM2_SANITIZE=ON >/dev/null
cmake --build "$BUILD"
cd "$BUILD"
ctest --output-on-failure -j "$(nproc)" "$@"
