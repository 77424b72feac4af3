#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (ctest). Exits non-zero when any test fails.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

bash tools/install.sh --no-build
bash tools/start-sound.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")
