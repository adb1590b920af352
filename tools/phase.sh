# shellcheck shell=bash
# Sourced by the set-up scripts: one line per phase on standard error, the phase's own output in
# a log file that is shown only when the phase fails.
#
#   phase LOG "installing 34 Debian packages…" -- CMD ARGS...
#
# LOG is appended to, so the phases of one run stay together; its folder is made on first use.
phase() {
  local log=$1 title=$2
  shift 3
  mkdir -p "$(dirname "$log")"
  echo "$title" >&2
  printf '\n== %s (%s)\n$ %s\n' "$title" "$(date '+%F %T')" "$*" >>"$log"
  local status=0
  "$@" >>"$log" 2>&1 </dev/null || status=$?
  if [ $status -ne 0 ]; then
    echo "failed (exit status $status); the end of $log:" >&2
    tail -n 40 "$log" | sed 's/^/  /' >&2
  fi
  return $status
}
