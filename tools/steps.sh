# Sourced by tools/run.sh and tools/test.sh: `step NAME COMMAND...` runs COMMAND and, when VORNAK_STEP_TIMES
# names a file, appends "NAME WALL CPU" to it: the seconds it took and the processor seconds (user + system)
# of the processes it ran, which stay comparable on a machine that others share (tools/time-commands.sh
# reads it). A failing step ends the calling script as the command alone would.
_step_cpu_file=$(mktemp)
trap 'rm -f "$_step_cpu_file"; _step_end_alongside' EXIT
# Processor seconds of the finished child processes of this shell so far. The builtin `times` must run in
# this shell, not in a subshell: hence the file.
_step_cpu() {
  times >"$_step_cpu_file"
  awk 'NR == 2 { n = split($0, f, " "); s = 0
    for (i = 1; i <= n; i++) { split(f[i], p, "m"); s += p[1] * 60 + p[2] }
    printf "%.2f", s }' "$_step_cpu_file"
}
step() {
  local name=$1
  shift
  local start cpu
  start=$(date +%s.%N)
  _step_cpu >/dev/null
  cpu=$(awk 'NR == 2 { n = split($0, f, " "); s = 0
    for (i = 1; i <= n; i++) { split(f[i], p, "m"); s += p[1] * 60 + p[2] }
    printf "%.2f", s }' "$_step_cpu_file")
  "$@"
  if [ -n "${VORNAK_STEP_TIMES:-}" ]; then
    local end
    end=$(date +%s.%N)
    _step_cpu >/dev/null
    awk -v name="$name" -v from="$start" -v to="$end" -v cpu0="$cpu" \
      'NR == 2 { n = split($0, f, " "); s = 0
         for (i = 1; i <= n; i++) { split(f[i], p, "m"); s += p[1] * 60 + p[2] }
         printf "%s %.1f %.1f\n", name, to - from, s - cpu0 }' "$_step_cpu_file" >>"$VORNAK_STEP_TIMES"
  fi
}

# `step_alongside LOG NICENESS IF_CUT COMMAND...` starts COMMAND (usually `step NAME ...`) in the background at
# the given niceness, with its output in LOG, and returns: the next step in the foreground, a test suite that
# leaves a core idle while its tests wait, runs beside it, and COMMAND takes what the suite leaves (the suite's
# tests come first for the scheduler). `step_join` waits for it, shows LOG, and ends the calling script when it
# failed. When the script ends before `step_join` (a step in the foreground failed), IF_CUT says what becomes of
# COMMAND: "stop" (its processes are stopped, children first: a build) or "finish" (it runs to its end first: a
# step that changes the system, such as installing and removing a package, is never cut in the middle).
# One at a time.
_alongside_pid=
_alongside_log=
_alongside_if_cut=
step_alongside() {
  local log=$1 niceness=$2
  _alongside_if_cut=$3
  shift 3
  _alongside_log=$log
  (
    _step_cpu_file=$(mktemp)
    trap 'rm -f "$_step_cpu_file"' EXIT
    renice -n "$niceness" -p "$BASHPID" >/dev/null
    "$@"
  ) >"$log" 2>&1 &
  _alongside_pid=$!
}
step_join() {
  local pid=$_alongside_pid
  [ -n "$pid" ] || return 0
  _alongside_pid=
  if wait "$pid"; then
    cat "$_alongside_log"
  else
    cat "$_alongside_log" >&2
    echo "failed alongside the step before: see above ($_alongside_log)" >&2
    exit 1
  fi
}
_step_stop_tree() {  # PID: the process and everything it started, children first (/proc: no procps needed)
  local child
  for child in $(cat /proc/"$1"/task/*/children 2>/dev/null || true); do
    _step_stop_tree "$child"
  done
  kill "$1" 2>/dev/null || true
}
_step_end_alongside() {
  [ -n "$_alongside_pid" ] || return 0
  if [ "$_alongside_if_cut" = finish ]; then
    echo "waiting for the step beside the failed one to finish ($_alongside_log)" >&2
    wait "$_alongside_pid" 2>/dev/null || true
  else
    _step_stop_tree "$_alongside_pid"
  fi
}
