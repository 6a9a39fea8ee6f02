#!/usr/bin/env bash
# Builds the threaded tests with ThreadSanitizer in build/tsan and runs them.
# Arguments are passed to ctest (for example -R MultimediaTimer).
#   TSAN_BUILD_DIR  build folder (default build/tsan)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${TSAN_BUILD_DIR:-$ROOT/build/tsan}"
SUPP="$ROOT/scripts/tsan.supp"
"$ROOT/scripts/install-deps.sh"
export QELM2_LOOPBACK_ONLY=1
export QT_QPA_PLATFORM=offscreen

# The system Qt is not instrumented, so programs that run during the build
# (the skin generator) may report inside it: those reports must not fail it.
export TSAN_OPTIONS="suppressions=$SUPP:exitcode=0:report_signal_unsafe=0"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQELM2_TSAN=ON >/dev/null
cmake --build "$BUILD" --target test_platform test_core test_controls test_media test_devices

# The threaded suites: timers, messages from workers, threads and locks,
# the stream pull, the device simulator, the stream sinks, device
# registration, the recording scheduler and cleaner, and the ONVIF client's
# subscriptions and supervision threads.
export TSAN_OPTIONS="suppressions=$SUPP:halt_on_error=0:second_deadlock_stack=1:history_size=4"
cd "$BUILD"
ctest --output-on-failure -j "$(nproc)" \
  -R '^(JThreadTest|MessageTest|SyncTest|WindowTimer|MultimediaTimer|Dialog|Fates/PayloadFate|CThreadTest|BoundedFifoTest|LogTest|StreamPull|StreamPullLimits|Mounts/StreamPullCamera|DeviceSimTest|AuxPtzEventsTest|AuxPtzEventsEndToEnd|RelayStreamPlayerTest|RtspEvents|RtspEventsSynthetic|Mounts/RtspEventsCamera|Streams/Mp4RecorderTest|RegistrationTest|DeleteAllTest|RecScheduler|RecCleaner|RecCamera|RecSinkUse|OnvifCamera|OnvifWire|OnvifSupervision)\.' "$@"
