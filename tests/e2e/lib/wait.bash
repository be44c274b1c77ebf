# wait_for COMMAND SECONDS: runs COMMAND (a shell command line, evaluated)
# every 0.1 s until it succeeds, and fails once SECONDS of wall-clock time have
# passed without success (the command is tried once more at the deadline).
# Shared by the Linux and the Wine end-to-end scripts.
wait_for() {
  local deadline=$((SECONDS + $2))
  while true; do
    eval "$1" && return 0
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}
