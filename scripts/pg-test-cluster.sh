#!/usr/bin/env bash
# A private PostgreSQL cluster for the tests and the benchmarks, on a loopback port.
#
#   pg-test-cluster.sh start DIR [PORT]   create the cluster in DIR if needed and start it; prints
#                                         the export lines the tests read (eval them)
#   pg-test-cluster.sh stop DIR           stop it (nothing happens when it is not running)
#   pg-test-cluster.sh standby PRIMARY DIR PORT
#                                         make DIR a streaming standby of the running cluster in
#                                         PRIMARY (pg_basebackup -R over loopback) if it is none
#                                         yet, and start it; prints its export lines. Either side
#                                         is then stopped and started again with stop and start.
#
# The server refuses to run as root, so under root (CI) the cluster belongs to an unprivileged
# system user created here. Logins are by password (user torvi, password torvi), so the tests can
# also check a refused one.
set -euo pipefail

usage() {
    echo "usage: $0 start DIR [PORT] | stop DIR | standby PRIMARY DIR PORT" >&2
    exit 2
}
[ $# -ge 2 ] || usage
action=$1
dir=$(realpath -m "$2")
port=${3:-55432}
script=$(realpath "$0")

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bindir" ] || [ ! -x "$bindir/pg_ctl" ]; then
    echo "pg-test-cluster: PostgreSQL server programs not found (apt-get install postgresql)" >&2
    exit 1
fi

owner=""
if [ "$(id -u)" -eq 0 ]; then
    owner=torvi-pg
    if ! id "$owner" >/dev/null 2>&1; then
        useradd --system --no-create-home --shell /usr/sbin/nologin "$owner"
    fi
fi
as_owner() {
    if [ -n "$owner" ]; then
        # From / : the server's user may not enter the caller's folder (root's home in CI).
        (cd / && runuser -u "$owner" -- "$@")
    else
        "$@"
    fi
}

case "$action" in
start)
    mkdir -p "$dir"
    if [ -n "$owner" ]; then
        chown "$owner" "$dir"
        chmod 0755 "$dir"
    fi
    if [ ! -f "$dir/data/PG_VERSION" ]; then
        echo torvi >"$dir/.pwfile"
        [ -z "$owner" ] || chown "$owner" "$dir/.pwfile"
        as_owner "$bindir/initdb" -D "$dir/data" -U torvi --pwfile="$dir/.pwfile" \
            --auth=scram-sha-256 --encoding=UTF8 --locale=C >"$dir/initdb.log" 2>&1 ||
            { cat "$dir/initdb.log" >&2; exit 1; }
        rm -f "$dir/.pwfile"
        # A standby streams over loopback with the same login (see standby below).
        grep -q '^host[[:space:]]\+replication[[:space:]].*127\.0\.0\.1/32' "$dir/data/pg_hba.conf" ||
            echo "host replication torvi 127.0.0.1/32 scram-sha-256" >>"$dir/data/pg_hba.conf"
        cat >>"$dir/data/postgresql.conf" <<CONF
listen_addresses = '127.0.0.1'
port = $port
unix_socket_directories = '$dir'
wal_level = replica
max_wal_senders = 4
fsync = off
synchronous_commit = off
full_page_writes = off
max_wal_size = 4GB
shared_buffers = 256MB
CONF
    fi
    if ! as_owner "$bindir/pg_ctl" -D "$dir/data" status >/dev/null 2>&1; then
        as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null ||
            { tail -n 20 "$dir/server.log" >&2; exit 1; }
    fi
    configured=$(sed -n "s/^port = \([0-9]*\)$/\1/p" "$dir/data/postgresql.conf" | tail -n 1)
    echo "export TORVI_TEST_PGHOST=127.0.0.1:$configured PGUSER=torvi PGPASSWORD=torvi"
    echo "export TORVI_TEST_PGCTL=$script"
    ;;
standby)
    [ $# -eq 4 ] || usage
    primary=$dir
    dir=$(realpath -m "$3")
    port=$4
    primary_port=$(sed -n "s/^port = \([0-9]*\)$/\1/p" "$primary/data/postgresql.conf" | tail -n 1)
    [ -n "$primary_port" ] || { echo "pg-test-cluster: no cluster in $primary" >&2; exit 1; }
    mkdir -p "$dir"
    if [ -n "$owner" ]; then
        chown "$owner" "$dir"
        chmod 0755 "$dir"
    fi
    if [ ! -f "$dir/data/PG_VERSION" ]; then
        rm -rf "$dir/data.new"
        # -R leaves standby.signal and the primary's address (with the login) in the copy.
        as_owner env PGPASSWORD=torvi "$bindir/pg_basebackup" -h 127.0.0.1 -p "$primary_port" \
            -U torvi -D "$dir/data.new" -R -X stream -c fast >"$dir/basebackup.log" 2>&1 ||
            { cat "$dir/basebackup.log" >&2; exit 1; }
        # The copy's settings are the primary's: the last lines give it its own port and socket.
        cat >>"$dir/data.new/postgresql.conf" <<CONF
port = $port
unix_socket_directories = '$dir'
hot_standby = on
CONF
        mv "$dir/data.new" "$dir/data"
    fi
    exec bash "$script" start "$dir" "$port"
    ;;
stop)
    if [ -f "$dir/data/PG_VERSION" ] &&
        as_owner "$bindir/pg_ctl" -D "$dir/data" status >/dev/null 2>&1; then
        as_owner "$bindir/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null
    fi
    ;;
*)
    usage
    ;;
esac
