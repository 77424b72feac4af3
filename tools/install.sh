#!/usr/bin/env bash
# Installs every Debian 12 package the reader, its tests and benchmarks need, then configures and builds.
# Idempotent and non-interactive; run as root (or with sudo available).
#   tools/install.sh            install what is missing and build (build/)
#   tools/install.sh --no-build only install packages
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  build-essential cmake ninja-build pkg-config git ccache
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libqt6multimedia6 qt6-qpa-plugins qt6-translations-l10n
  libgl-dev libegl-dev libxkbcommon-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  libsqlite3-dev sqlite3
  pulseaudio pulseaudio-utils
  fonts-dejavu-core fonts-noto-mono fonts-noto-core
  xvfb xdotool imagemagick
  libsoundtouch-dev libebur128-dev
  clang-14 libclang-rt-14-dev strace util-linux
  ffmpeg espeak-ng sox lame vorbis-tools opus-tools flac
  desktop-file-utils appstream man-db groff-base librsvg2-bin
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

[ "${1:-}" = "--no-build" ] && exit 0

cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" -j"$(nproc)"
