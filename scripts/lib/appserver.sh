# shellcheck shell=bash
# Starting and stopping the application server from the demo scripts (sourced, not run).
#
#   appserver_start SERVER_BIN WORK_DIR DB_URL [server options...]
#       starts the server on a free loopback port, its standard output read through a FIFO in
#       WORK_DIR and its error output kept in WORK_DIR/server.err; once it has said where it
#       listens, sets APPSERVER_PID and APPSERVER_ADDRESS (HOST:PORT) and returns 0. On failure
#       it prints why (with the server's error output) and returns 1.
#   appserver_stop
#       ends the server (TERM, then KILL after two seconds) if it is still running.
#
# Messages start with "$APPSERVER_TAG: " (the calling script's name by default).

APPSERVER_PID=""
APPSERVER_ADDRESS=""
: "${APPSERVER_TAG:=$(basename -- "$0")}"

appserver_start() {
    local server_bin=$1 work=$2 db_url=$3
    shift 3
    local fifo="$work/server.out" line="" address
    rm -f -- "$fifo"
    mkfifo -- "$fifo"
    "$server_bin" --listen 127.0.0.1:0 --db "$db_url" "$@" >"$fifo" 2>"$work/server.err" &
    APPSERVER_PID=$!
    # The server's first line says where it listens: "listening on HOST:PORT". Creating or
    # seeding the company database comes before it, so give it time.
    exec 3<"$fifo"
    if ! IFS= read -r -t 60 line <&3; then
        exec 3<&-
        echo "$APPSERVER_TAG: o servidor não respondeu; veja a saída de erro abaixo." >&2
        cat -- "$work/server.err" >&2 || true
        return 1
    fi
    # Keep draining its output so that it never blocks on a full pipe.
    cat <&3 >/dev/null &
    exec 3<&-
    address=${line#listening on }
    if [ "$address" = "$line" ] || [[ ! "$address" =~ ^[^:[:space:]]+:[0-9]+$ ]]; then
        echo "$APPSERVER_TAG: resposta inesperada do servidor: $line" >&2
        return 1
    fi
    # shellcheck disable=SC2034 # read by the calling script
    APPSERVER_ADDRESS=$address
    return 0
}

appserver_stop() {
    local pid=$APPSERVER_PID
    [ -n "$pid" ] || return 0
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null || true
        for _ in 1 2 3 4 5 6 7 8 9 10; do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.2
        done
        kill -9 "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
    APPSERVER_PID=""
}
