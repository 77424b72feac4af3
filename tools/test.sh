#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (ctest). Exits non-zero when any test fails.
# Then every test again under AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/), the fuzz
# targets' seed corpora replayed under the same sanitizers (build-asan/, its own step), and the
# Debian package made from the normal build (it has Debian's flags, tools/package.sh) and checked (dist/); on
# a throw-away machine (CI=true, as root) the package is also installed, started as a new user and removed
# again (tools/check-package.sh --install). The sanitizer build runs beside the first suite, the package and
# its check beside the sanitizer suite (step_alongside, tools/steps.sh). Each step's seconds go to
# VORNAK_STEP_TIMES when it names a file (tools/time-commands.sh).
#   tools/test.sh                        everything
#   VORNAK_TEST_QUICK=1 tools/test.sh    the normal build and ctest only
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
source tools/steps.sh

step apt bash tools/install.sh --run

jobs=$(nproc)
suite() {  # FOLDER [ctest arguments]: every test once; any failure fails the command
  local folder=$1
  shift
  (cd "$folder" && ctest --output-on-failure -j"$jobs" "$@")
}
step configure bash tools/configure.sh build
# The packages only the tests and the package check need (the browser, nginx, lintian, sound tools: on a fresh
# machine a minute or more of downloading and unpacking) are installed beside the build, which needs none of
# them, when that asks nothing of the user: as root, or with sudo that wants no password now.
if [ "$(id -u)" -eq 0 ] || sudo -n true 2>/dev/null; then
  step_alongside build/apt.log 0 finish step apt-test bash tools/install.sh --test
else
  step apt-test bash tools/install.sh --test
fi
step build cmake --build build -j"$jobs"
step_join
bash tools/start-sound.sh
# The tests' ffmpeg fixtures (base/testing/FfmpegKit.h) that no test used for a month, and pieces a stopped
# test left, are removed; the folder would otherwise keep every fixture a test ever asked for.
if [ -d build/test-fixtures ]; then
  find build/test-fixtures -type f \( -mtime +30 -o -name '*.part*' -mmin +60 \) -delete
fi
if [ "${VORNAK_TEST_QUICK:-}" = "1" ]; then
  step suite suite build
  exit 0
fi

# Sanitizers: the whole suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer. UBSan stops
# at the first finding (-fno-sanitize-recover). Leak detection is off: Qt's platform plugins and fontconfig
# keep caches until exit that LeakSanitizer reports as leaks (and a process that used audio output ends
# before any exit-time check, audio/playback/uAudioExit.h).
# -Og with line tables only keeps this second build short (a quarter less to compile than at -O1, and the
# suite runs as fast); the sanitizers still report function, file and line. Its tests take the files ffmpeg
# made for the normal suite's tests from build/ (base/testing/FfmpegKit.h).
step configure-asan cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE= -DCMAKE_CXX_FLAGS="-Og -g1" \
  -DVORNAK_SANITIZE=ON -DVORNAK_BENCH=OFF -DVORNAK_FIXTURE_CACHE="$here/build/test-fixtures" >/dev/null
# The sanitizer build runs beside the normal suite, at the lowest priority: the suite's tests wait for sound,
# processes and timers a good part of their time, and the compiler takes the idle core then.
step_alongside build/build-asan.log 19 stop step build-asan cmake --build build-asan -j"$jobs"
step suite suite build
echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
step_join

# The Debian package, packed from build/ (nothing compiled again): lintian without error or warning (run by
# the check), its file list, and on CI an install as a user sees it. Beside the sanitizer suite, below its
# tests' priority (niceness 10, not 19: the check's first start of the reader has a time limit).
package_and_check() {
  step package bash -c 'set -o pipefail; bash tools/package.sh --no-lintian | tail -n 1 >build/package-path'
  local deb
  deb=$(cat build/package-path)
  if [ "${CI:-}" = "true" ] && [ "$(id -u)" -eq 0 ]; then
    step check-package bash tools/check-package.sh "$deb" --install
  else
    step check-package bash tools/check-package.sh "$deb"
  fi
}
step_alongside build/package.log 10 finish package_and_check

# Every test runs once, and any failure fails the command: a test is never run again to hide an
# intermittent fault. The fuzz corpora are their own step (below), so nothing runs twice.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
step suite-asan suite build-asan -LE fuzz

# The fuzz targets' seed corpora: every seed input once, through the replay programs of the sanitizer build
# (fuzz_*_replay: the target linked with the libraries it exercises, built with GCC's AddressSanitizer and
# UndefinedBehaviorSanitizer). A libFuzzer build with clang would run the same inputs under the same
# sanitizers at the price of a third compile; it stays for fuzzing campaigns (tools/fuzz-campaign.sh).
echo "== Fuzz corpora (AddressSanitizer + UndefinedBehaviorSanitizer)"
step suite-fuzz suite build-asan -L fuzz
unset ASAN_OPTIONS UBSAN_OPTIONS

echo "== Debian package"
step_join
