# Sourced by the scripts that run programs against the stand-in:
#
#   start_sim <path to hsm-sim> [options]   starts it in the background on a
#                                           free daemon id and exports what a
#                                           client needs (the lines it prints)
#   stop_sim                                stops it again (also on EXIT)

sim_pid=""
sim_log=""

stop_sim() {
  if [[ -n "$sim_pid" ]] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  sim_pid=""
  [[ -n "$sim_log" ]] && rm -f "$sim_log"
  sim_log=""
}

start_sim() {
  local bin="$1"
  shift
  sim_log="$(mktemp /tmp/hsm-sim.XXXXXX)"
  trap stop_sim EXIT
  "$bin" "$@" >"$sim_log" 2>&1 &
  sim_pid=$!
  # hsm-sim prints "  export NAME=VALUE" for every variable a client needs
  # once it listens; the daemon id is always among them.
  local i line
  for i in $(seq 1 100); do
    grep -q '^ *export tessaline_daemon_id=' "$sim_log" && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
      echo "hsm-sim did not start:" >&2
      cat "$sim_log" >&2
      return 1
    fi
    sleep 0.1
  done
  if ! grep -q '^ *export tessaline_daemon_id=' "$sim_log"; then
    echo "hsm-sim did not report its daemon id" >&2
    return 1
  fi
  # Any socket type other than TCPSOCKET selects the UNIX-domain socket
  # without consulting /opt/hsm/data/application.cfg; hsm-sim's own lines
  # below override these defaults.
  export tessaline_daemon_socket_type=UNIXSOCKET
  unset tessaline_daemon_tcp_port
  while read -r line; do
    export "${line#export }"
  done < <(sed -n 's/^ *\(export tessaline_[a-z_]*=[A-Za-z0-9._-]*\) *$/\1/p' "$sim_log")
  echo "hsm-sim runs with daemon id $tessaline_daemon_id"
}
