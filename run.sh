#!/usr/bin/env bash
# Installs what is missing, builds the program (Release) and starts it; under
# a virtual display when there is no display. Network sends stay on loopback
# unless QELM2_LOOPBACK_ONLY=0 is given.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQELM2_BUILD_TESTS=OFF >/dev/null
cmake --build build/release
export QELM2_LOOPBACK_ONLY="${QELM2_LOOPBACK_ONLY:-1}"
EXE=build/release/bin/Corvane
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1920x1080x24" "$EXE" "$@"
fi
exec "$EXE" "$@"
