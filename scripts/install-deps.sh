#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need.
# Does nothing when they are all present; runs apt-get update only when something is missing.
set -euo pipefail

PACKAGES=(
  # toolchain
  g++ cmake ninja-build pkg-config
  # window system, audio out, serial keyboard
  qt6-base-dev qt6-multimedia-dev qt6-serialport-dev
  # stream pull, decoding for display
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  # XML files, MD5 digests
  libtinyxml-dev libmd-dev
  # tests
  libgtest-dev libgmock-dev
  # Chinese glyphs; faces with the widths of Arial, Times New Roman and Courier New
  fonts-wqy-microhei fonts-liberation2
  # test peers and oracles: test media, ffprobe, a real RTSP camera on 127.0.0.1
  ffmpeg
  gstreamer1.0-rtsp python3-gi gir1.2-gst-rtsp-server-1.0
  gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-plugins-bad
  # a display for ./run.sh on a machine without one
  xvfb xauth
  # end-to-end tests on a real desktop: a window manager, real pointer and keys, window facts
  openbox xdotool x11-utils
)

# --fuzz: also what scripts/run-fuzzers.sh needs (clang and its libFuzzer runtime).
if [[ " $* " == *" --fuzz "* ]]; then
  PACKAGES+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
