#!/usr/bin/env bash
# Installs the Debian 12 packages the reader needs: to build and run it (command 1, tools/run.sh), or also
# everything its tests, benchmarks and package check need (command 2, tools/test.sh). Idempotent and
# non-interactive; run as root (or with sudo available).
#   tools/install.sh            every package, then configure and build every target (build/)
#   tools/install.sh --no-build every package, no build
#   tools/install.sh --run      only the packages to build and run the reader and vornak-tool, no build
#   tools/install.sh --test     the packages of the test command (all but the fuzzing campaign's), no build
#   tools/install.sh --fuzz     the packages of the fuzzing campaign (tools/fuzz-campaign.sh), no build
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

# Building and running. Everything that changes the configuration of build/ (compilers, the libraries CMake
# looks for, the benchmarks' cpp-httplib among them) belongs here, so that command 2 reuses command 1's objects
# and installs its own packages while it builds. ccache is not installed: with an empty cache it only costs
# (command 1's build took 17 % more processor time with it); builds use it where it is.
run_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libqt6multimedia6 qt6-qpa-plugins qt6-translations-l10n
  libgl-dev libegl-dev libxkbcommon-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev libavfilter-dev
  libsqlite3-dev
  libsoundtouch-dev libssl-dev libebur128-dev
  libboost-dev libsodium-dev libzip-dev zlib1g-dev libcpp-httplib-dev
  pulseaudio pulseaudio-utils
  fonts-dejavu-core
  ffmpeg espeak-ng
  nodejs
)
# Running the tests and the sanitizer build (its replay of the fuzz corpora included), icons, the package and
# its check: nothing that building needs.
test_packages=(
  git sqlite3
  fonts-noto-mono fonts-noto-core
  xvfb xdotool imagemagick
  strace util-linux
  sox lame vorbis-tools opus-tools flac
  desktop-file-utils appstream man-db groff-base librsvg2-bin
  dpkg-dev lintian
  chromium chromium-driver python3-selenium nginx-light openssl
)
# Fuzzing campaigns only (libFuzzer needs clang): the test command replays the corpora without it.
fuzz_packages=(clang-14 libclang-rt-14-dev)

packages=("${run_packages[@]}")
# npm comes with some builds of nodejs (and conflicts with Debian's npm package there); Debian's own nodejs
# needs the npm package beside it.
command -v npm >/dev/null || packages+=(npm)
case ${1:-} in
  --run) ;;
  --test) packages+=("${test_packages[@]}") ;;
  --fuzz) packages=("${fuzz_packages[@]}") ;;
  *) packages+=("${test_packages[@]}" "${fuzz_packages[@]}") ;;
esac

# One dpkg-query for the whole list (one per package took seconds on every run of either command).
installed=" $(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null |
  awk '/ install ok installed$/ { sub(/:.*/, "", $1); printf "%s ", $1 }' || true)"
missing=()
for p in "${packages[@]}"; do
  [[ $installed == *" $p "* ]] || missing+=("$p")
done
# One apt-get install for everything missing. The package lists are read again first only when they are
# older than a day or missing (a fresh machine), or when the install fails on lists that were thought fresh.
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  install_missing() { $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"; }
  if [ -n "$(find /var/lib/apt/lists -maxdepth 1 -name '*_Packages*' -mmin -1440 2>/dev/null | head -n 1)" ]; then
    install_missing || { $SUDO apt-get update -qq && install_missing; }
  else
    $SUDO apt-get update -qq
    install_missing
  fi
fi

# The browser page's components (wavesurfer.js, the bundler), exactly as package-lock.json pins them; again
# only when the lock file changed since the last time.
if [ "${1:-}" != --fuzz ] && ! cmp -s "$here/page/package-lock.json" "$here/page/node_modules/.installed-lock.json"; then
  (cd "$here/page" && npm ci --no-audit --no-fund --loglevel=error &&
    cp package-lock.json node_modules/.installed-lock.json)
fi

case ${1:-} in --no-build | --run | --test | --fuzz) exit 0 ;; esac

cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" -j"$(nproc)"
