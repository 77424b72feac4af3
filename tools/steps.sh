# Sourced by tools/run.sh and tools/test.sh: `step NAME COMMAND...` runs COMMAND and, when VORNAK_STEP_TIMES
# names a file, appends "NAME SECONDS" to it (tools/time-commands.sh reads it). A failing step ends the
# calling script as the command alone would.
step() {
  local name=$1
  shift
  local start
  start=$(date +%s.%N)
  "$@"
  if [ -n "${VORNAK_STEP_TIMES:-}" ]; then
    awk -v name="$name" -v from="$start" -v to="$(date +%s.%N)" 'BEGIN { printf "%s %.1f\n", name, to - from }' \
      >>"$VORNAK_STEP_TIMES"
  fi
}
