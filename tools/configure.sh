#!/usr/bin/env bash
# Configures build/ (or the folder given) the one way tools/run.sh, tools/test.sh and tools/package.sh share,
# so that each reuses the others' objects: RelWithDebInfo with Debian's hardening flags on top
# (VORNAK_DEBIAN_FLAGS, CMakeLists.txt), precompiled headers, ccache when it is installed.
#   tools/configure.sh [FOLDER [CMAKE_ARGS...]]
# VORNAK_CMAKE_ARGS adds options after those (tools/time-commands.sh measures a means by switching it off).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:-build}
[ $# -gt 0 ] && shift
cd "$here"
cmake -S . -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" ${VORNAK_CMAKE_ARGS:-} >/dev/null
