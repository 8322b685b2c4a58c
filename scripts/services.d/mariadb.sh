#!/usr/bin/env bash
# A private MariaDB server for the store tests: its own data directory under
# $QF_SERVICE_DIR/mariadb, a free port on 127.0.0.1 and its own socket. On
# start it creates the database "Quillfern" from store/schema.sql and a user
# for the tests, and appends QF_MYSQL_HOST, QF_MYSQL_PORT, QF_MYSQL_USER and
# QF_MYSQL_PASSWORD to $QF_SERVICE_ENV. "stop" keeps the data; "resume"
# starts the stopped server again on its data and port (tests of a server
# that goes away and comes back).
#   mariadb.sh start | stop | resume
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
: "${QF_SERVICE_DIR:?QF_SERVICE_DIR is not set}"
dir="$QF_SERVICE_DIR/mariadb"
pidfile="$dir/mariadbd.pid"
socket="$dir/mariadbd.sock"
user=Quillfern
password=quill-test-pw

find_tool() {
  for name in "$@"; do
    if command -v "$name" >/dev/null 2>&1; then command -v "$name"; return 0; fi
    for d in /usr/sbin /usr/bin /usr/local/sbin /usr/local/bin; do
      [ -x "$d/$name" ] && { echo "$d/$name"; return 0; }
    done
  done
  return 1
}

port_in_use() {
  ss -Hltn "sport = :$1" 2>/dev/null | grep -q . && return 0
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
  return 1
}

client() {
  "$mariadb" --no-defaults --protocol=socket --socket="$socket" -uroot "$@"
}

# Runs the server on its data directory and `port`; true once it answers.
run_server() {
  local port=$1 server_pid
  setsid "$server" --no-defaults --datadir="$dir/data" --tmpdir="$dir/tmp" "${run_as[@]}" \
    --skip-networking=0 --bind-address=127.0.0.1 --port="$port" --socket="$socket" \
    --pid-file="$pidfile" --log-error="$dir/mariadbd.err" --skip-name-resolve \
    --innodb-buffer-pool-size=32M --innodb-log-file-size=16M --max-allowed-packet=64M \
    --sql-mode=STRICT_TRANS_TABLES,STRICT_ALL_TABLES,ERROR_FOR_DIVISION_BY_ZERO,NO_ENGINE_SUBSTITUTION \
    </dev/null >>"$dir/mariadbd.out" 2>&1 &
  server_pid=$!
  echo "$server_pid" >"$dir/server.pid"
  for _ in $(seq 1 300); do
    client -e "SELECT 1" >/dev/null 2>&1 && return 0
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  return 1
}

find_tools() {
  server=$(find_tool mariadbd mysqld) || { echo "mariadb.sh: no mariadbd found" >&2; return 1; }
  install_db=$(find_tool mariadb-install-db mysql_install_db) || { echo "mariadb.sh: no mariadb-install-db" >&2; return 1; }
  mariadb=$(find_tool mariadb mysql) || { echo "mariadb.sh: no mariadb client" >&2; return 1; }
  run_as=()
  [ "$(id -u)" -eq 0 ] && run_as=(--user=root)
  return 0
}

start() {
  find_tools
  rm -rf "$dir"
  mkdir -p "$dir/data" "$dir/tmp"

  "$install_db" --no-defaults --datadir="$dir/data" "${run_as[@]}" --auth-root-authentication-method=normal \
    --skip-test-db >"$dir/install.log" 2>&1 || { echo "mariadb.sh: install-db failed, see $dir/install.log" >&2; return 1; }

  local port started=0
  for attempt in 1 2 3 4 5; do
    port=$(( 20000 + (RANDOM * 32768 + RANDOM) % 30000 ))
    port_in_use "$port" && continue
    if run_server "$port"; then started=1; break; fi
  done
  if [ $started != 1 ]; then
    echo "mariadb.sh: the server did not start, see $dir/mariadbd.err" >&2
    return 1
  fi
  echo "$port" >"$dir/port"

  client <"$root/store/schema.sql"
  client -e "CREATE USER IF NOT EXISTS '$user'@'%' IDENTIFIED BY '$password';
             GRANT ALL PRIVILEGES ON Quillfern.* TO '$user'@'%'; FLUSH PRIVILEGES;"
  {
    echo "export QF_MYSQL_HOST=127.0.0.1"
    echo "export QF_MYSQL_PORT=$port"
    echo "export QF_MYSQL_USER=$user"
    echo "export QF_MYSQL_PASSWORD=$password"
  } >>"${QF_SERVICE_ENV:?QF_SERVICE_ENV is not set}"
  echo "mariadb: listening on 127.0.0.1:$port"
}

resume() {
  find_tools
  [ -f "$dir/port" ] || { echo "mariadb.sh: no server was started in $dir" >&2; return 1; }
  run_server "$(cat "$dir/port")" || { echo "mariadb.sh: the server did not start again, see $dir/mariadbd.err" >&2; return 1; }
}

stop() {
  [ -f "$dir/server.pid" ] || return 0
  local pid
  pid=$(cat "$dir/server.pid")
  if kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 300); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$dir/server.pid"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  resume) resume ;;
  *) echo "usage: $0 start|stop|resume" >&2; exit 2 ;;
esac
