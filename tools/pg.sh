#!/usr/bin/env bash
# A throwaway PostgreSQL 15 server for the server tests and the bench:
#   eval "$(bash tools/pg.sh start)"   starts one in a temporary folder on
#                                      127.0.0.1 and sets STOLVA_TEST_SERVER
#   bash tools/pg.sh stop DIR          stops it and removes the folder
#   bash tools/pg.sh halt|resume DIR   stops it for a while, starts it again
# initdb runs as the postgres user (or the caller when not root); the
# superuser is "stolva", trusted on 127.0.0.1 only; no fsync (nothing here
# outlives the run).
set -euo pipefail
PGBIN=/usr/lib/postgresql/15/bin
as() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
case "${1:-}" in
start)
    dir=$(mktemp -d /tmp/stolva-pg.XXXXXX)
    [ "$(id -u)" -eq 0 ] && chown postgres "$dir"
    as "$PGBIN/initdb" -D "$dir/data" -U stolva -A trust -E UTF8 --locale=C.UTF-8 >/dev/null
    # A free port: the kernel's choice for a socket bound to port 0.
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    echo "-h 127.0.0.1 -p $port -k $dir -F -c max_connections=200" >"$dir/options"
    as "$PGBIN/pg_ctl" -D "$dir/data" -l "$dir/log" -w -o "$(cat "$dir/options")" start >/dev/null
    echo "export STOLVA_TEST_SERVER=postgresql://stolva@127.0.0.1:$port/postgres STOLVA_PG_DIR=$dir"
    ;;
halt)
    # The server goes away mid-session (a test of what the PCs then do).
    as "$PGBIN/pg_ctl" -D "${2:?folder}/data" -m fast -w stop >/dev/null
    ;;
resume|resume-if-halted)
    dir="${2:?folder}"
    if [ "$1" = resume-if-halted ] && as "$PGBIN/pg_ctl" -D "$dir/data" status >/dev/null; then
        exit 0
    fi
    as "$PGBIN/pg_ctl" -D "$dir/data" -l "$dir/log" -w -o "$(cat "$dir/options")" start >/dev/null
    ;;
stop)
    dir="${2:?folder}"
    as "$PGBIN/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null || true
    rm -rf "$dir"
    ;;
*)
    echo "usage: $0 start | stop DIR | halt DIR | resume DIR" >&2
    exit 2
    ;;
esac
