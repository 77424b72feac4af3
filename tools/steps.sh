# Sourced by tools/run.sh and tools/test.sh: `step NAME COMMAND...` runs COMMAND and, when VORNAK_STEP_TIMES
# names a file, appends "NAME WALL CPU" to it: the seconds it took and the processor seconds (user + system)
# of the processes it ran, which stay comparable on a machine that others share (tools/time-commands.sh
# reads it). A failing step ends the calling script as the command alone would.
_step_cpu_file=$(mktemp)
trap 'rm -f "$_step_cpu_file"' EXIT
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
