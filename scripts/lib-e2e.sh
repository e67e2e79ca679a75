# Shell functions shared by scripts/demo and bench/e2e: a throwaway certificate
# authority, the demo merchant, and the host simulator and the server started on
# loopback in a temporary directory that goes away, with every process, on exit.
# Source it from bash after `set -euo pipefail`, then call e2e_init BIN_DIR.

e2e_pids=()
e2e_work=
e2e_bin=

# e2e_init BIN_DIR: makes the temporary directory and arranges the clean-up.
e2e_init() {
  e2e_bin=$1
  e2e_work=$(mktemp -d "${TMPDIR:-/tmp}/paxelle-e2e-XXXXXX")
  trap e2e_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

# Kills whatever is still running (a stopped simulator is woken so it can die)
# and removes the temporary directory.
e2e_cleanup() {
  local pid
  for pid in "${e2e_pids[@]}"; do
    if kill -0 "$pid" 2>/dev/null; then
      kill -CONT "$pid" 2>/dev/null || true
      kill -KILL "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  e2e_pids=()
  [ -n "$e2e_work" ] && rm -rf "$e2e_work"
  e2e_work=
}

e2e_fail() {
  echo "$(basename "$0"): $*" >&2
  exit 1
}

# A TCP port on 127.0.0.1 that nothing listens on at this moment.
e2e_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

# e2e_make_pki: ca.pem (a throwaway CA) and host.pem/host.key (a certificate
# for "localhost" and 127.0.0.1 signed by it) in $e2e_work/pki.
e2e_make_pki() {
  local dir=$e2e_work/pki
  mkdir -p "$dir"
  printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' \
    >"$dir/host.ext"
  local key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
  {
    openssl req -x509 "${key[@]}" -keyout "$dir/ca.key" -out "$dir/ca.pem" -days 2 -subj "/CN=Paxelle Demo CA" \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" &&
      openssl req "${key[@]}" -keyout "$dir/host.key" -out "$dir/host.csr" -subj "/CN=localhost" &&
      openssl x509 -req -in "$dir/host.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial \
        -out "$dir/host.pem" -days 2 -extfile "$dir/host.ext"
  } >"$dir/openssl.log" 2>&1 || { cat "$dir/openssl.log" >&2; e2e_fail "openssl could not make the certificates"; }
  e2e_ca=$dir/ca.pem
  e2e_host_cert=$dir/host.pem
  e2e_host_key=$dir/host.key
}

# e2e_provision [N=VALUE...]: the demo merchant in $e2e_work/params, the host's
# certificate checked (entry 10) and the host contacted at start-up (entry 9);
# extra values follow.
e2e_provision() {
  e2e_params=$e2e_work/params
  "$e2e_bin/paxelle" params set 1=123456789012345 2=12345678 9=N 10=Y "$@" --params "$e2e_params" >/dev/null
}

# e2e_wait_exit PID SECONDS: waits at most SECONDS for PID (a child of this
# shell) to end; its exit status, or 124 after killing it when it did not.
e2e_wait_exit() {
  local pid=$1 tenths=$(($2 * 10)) status=0
  while kill -0 "$pid" 2>/dev/null && [ "$tenths" -gt 0 ]; do
    sleep 0.1
    tenths=$((tenths - 1))
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    return 124
  fi
  wait "$pid" || status=$?
  return "$status"
}

# e2e_stop PID NAME SECONDS: SIGTERM, then at most SECONDS for the exit; fails
# unless the process ends by itself with status 0.
e2e_stop() {
  local pid=$1 name=$2 status=0
  kill -TERM "$pid" 2>/dev/null || true
  e2e_wait_exit "$pid" "$3" || status=$?
  [ "$status" -eq 0 ] || e2e_fail "$name ended with status $status after SIGTERM"
}

# e2e_start_sim [OPTION...]: the host simulator on a free loopback port with its
# journal in $e2e_work/journal; sets e2e_sim_pid and e2e_sim_port.
e2e_start_sim() {
  e2e_journal=$e2e_work/journal
  : >"$e2e_work/hostsim.out"
  "$e2e_bin/paxelle-hostsim" --port 0 --cert "$e2e_host_cert" --key "$e2e_host_key" --journal "$e2e_journal" "$@" \
    >"$e2e_work/hostsim.out" 2>"$e2e_work/hostsim.err" &
  e2e_sim_pid=$!
  e2e_pids+=("$e2e_sim_pid")
  local tenths=100
  e2e_sim_port=
  while [ -z "$e2e_sim_port" ] && [ "$tenths" -gt 0 ]; do
    kill -0 "$e2e_sim_pid" 2>/dev/null || { cat "$e2e_work/hostsim.err" >&2; e2e_fail "the host simulator did not start"; }
    e2e_sim_port=$(sed -n 's/^paxelle-hostsim listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$e2e_work/hostsim.out")
    [ -n "$e2e_sim_port" ] || sleep 0.1
    tenths=$((tenths - 1))
  done
  [ -n "$e2e_sim_port" ] || e2e_fail "the host simulator did not report its port within 10 s"
}

# e2e_start_server: paxelle headless on a free loopback port, talking to the
# simulator as "localhost" with the throwaway CA trusted, and with the options in
# the array e2e_server_args (if set); returns once the client port accepts. Sets
# e2e_server_pid and e2e_client_port.
e2e_start_server() {
  local attempt
  mkdir -p "$e2e_work/server"
  for attempt in 1 2 3; do
    e2e_client_port=$(e2e_free_port)
    : >"$e2e_work/paxelle.err"
    "$e2e_bin/paxelle" --headless --workdir "$e2e_work/server" --params "$e2e_params" --keystore "$e2e_work/keys" \
      --client-port "$e2e_client_port" --host "localhost:$e2e_sim_port" --host-ca "$e2e_ca" \
      ${e2e_server_args[@]+"${e2e_server_args[@]}"} >"$e2e_work/paxelle.out" 2>"$e2e_work/paxelle.err" &
    e2e_server_pid=$!
    e2e_pids+=("$e2e_server_pid")
    local tenths=300
    while [ "$tenths" -gt 0 ]; do
      kill -0 "$e2e_server_pid" 2>/dev/null || { cat "$e2e_work/paxelle.err" >&2; e2e_fail "paxelle ended at start-up"; }
      if (: <"/dev/tcp/127.0.0.1/$e2e_client_port") 2>/dev/null; then return 0; fi
      # Someone took the port in the meantime: the server stays up with its
      # interfaces stopped, so try another one.
      grep -q "Failed to start TCP/IP Server!" "$e2e_work/paxelle.err" && break
      sleep 0.1
      tenths=$((tenths - 1))
    done
    kill -KILL "$e2e_server_pid" 2>/dev/null || true
    wait "$e2e_server_pid" 2>/dev/null || true
    [ "$tenths" -gt 0 ] || { cat "$e2e_work/paxelle.err" >&2; e2e_fail "paxelle did not accept lanes within 30 s"; }
  done
  e2e_fail "paxelle could not listen on a free port"
}

# e2e_lane ARG...: opx-lane against the server.
e2e_lane() {
  "$e2e_bin/opx-lane" --server "127.0.0.1:$e2e_client_port" "$@"
}
