# Sourced by the scripts that start programs of their own (the run command,
# the GUI tests): they stop what they started by PID, never by name.

stop_pid() {  # stop_pid <pid>: TERM, a bounded wait, then KILL
  local pid="$1" i
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for ((i = 0; i < 50; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
