#!/usr/bin/env bash
# The stream sink soak for as long as asked: 16 camera streams shown, recorded
# and relayed, every frame the camera sent accounted for.
#   bench/rtsp_soak.sh [seconds] [build folder]   (default 600 s, build/asan)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export QELM2_SOAK_SECONDS="${1:-600}"
export QELM2_LOOPBACK_ONLY=1 QT_QPA_PLATFORM=offscreen
exec "${2:-$ROOT/build/asan}/tests/bin/test_media" --gtest_filter='RtspEventsSoak*'
