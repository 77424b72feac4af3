#!/usr/bin/env bash
# Times the two commands a new user runs, step by step, in a fresh clone of this checkout in a temporary
# folder: command 1 (tools/run.sh, up to the start of the reader) and command 2 (tools/test.sh). Prints one
# line per step: command, step, seconds, and processor seconds (user + system of everything the step ran;
# on a machine shared with other work this is the figure to compare, as the seconds then depend on the
# load), then each command's total seconds. The clone is removed afterwards.
#   tools/time-commands.sh            both commands, compiler cache as configured (ccache when installed)
#   tools/time-commands.sh --cold     without the compiler cache (CCACHE_DISABLE=1): a machine's first run
#   tools/time-commands.sh --run-only command 1 alone
# Extra CMake options for every build of the clone go in VORNAK_TIME_CMAKE_ARGS (e.g. "-DVORNAK_PCH=OFF" to
# measure a means by its absence); only build/ takes them (tools/configure.sh).
# Commits only: uncommitted changes of this checkout are not in the clone.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cold=0
commands="run test"
for arg in "$@"; do
  case $arg in
    --cold) cold=1 ;;
    --run-only) commands="run" ;;
    *) echo "usage: tools/time-commands.sh [--cold] [--run-only]" >&2; exit 2 ;;
  esac
done
[ $cold = 1 ] && export CCACHE_DISABLE=1

work=$(mktemp -d "${TMPDIR:-/tmp}/vornak-time.XXXXXX")
trap 'rm -rf "$work"' EXIT
git clone -q "$here" "$work/src"
export VORNAK_CMAKE_ARGS=${VORNAK_TIME_CMAKE_ARGS:-}
times=$work/times
echo "clone: $work/src; load: $(cut -d' ' -f1-3 /proc/loadavg); cores: $(nproc); ccache: $([ $cold = 1 ] && echo off || echo as configured)"
for command in $commands; do
  : >"$times"
  start=$(date +%s.%N)
  if [ "$command" = run ]; then
    (cd "$work/src" && VORNAK_NO_START=1 VORNAK_STEP_TIMES="$times" bash tools/run.sh)
  else
    (cd "$work/src" && VORNAK_STEP_TIMES="$times" bash tools/test.sh)
  fi
  total=$(awk -v from="$start" -v to="$(date +%s.%N)" 'BEGIN { printf "%.1f", to - from }')
  while read -r step seconds cpu; do
    printf '%-5s %-16s %8s s %8s s cpu\n' "$command" "$step" "$seconds" "$cpu"
  done <"$times"
  printf '%-5s %-16s %8s s\n' "$command" total "$total"
done
