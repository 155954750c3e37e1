# shellcheck shell=bash
# Throwaway PostgreSQL 15 and MariaDB servers on loopback for the tests and benchmarks.
#
# Usage (bash):
#   source scripts/lib/dbservers.sh
#   mirelo_db_start     # starts the servers and exports the variables below
#   mirelo_db_start pg  # the same for PostgreSQL alone ("mysql" for MariaDB alone)
#   ...                 # run whatever needs them
#   mirelo_db_stop      # stops the servers, removes their folders; safe to call twice
#
# Each kind runs as two servers, one with TLS and one without, each in its own folder
# under one temporary folder, on free ports of 127.0.0.1. When started as root they run as
# the packages' own accounts (postgres, mysql), since neither server agrees to run as root.
# Each run makes a fresh self-signed certificate and a random password.
#
# Exported for the programs that use them:
#   MIRELO_TEST_PG_HOST         127.0.0.1
#   MIRELO_TEST_PG_PORT         PostgreSQL with TLS
#   MIRELO_TEST_PG_PLAIN_PORT   PostgreSQL without TLS (same user, password and database)
#   MIRELO_TEST_PG_USER         test user, owner of the test database
#   MIRELO_TEST_PG_PASSWORD
#   MIRELO_TEST_PG_DATABASE
#   MIRELO_TEST_MYSQL_HOST, MIRELO_TEST_MYSQL_PORT, MIRELO_TEST_MYSQL_PLAIN_PORT,
#   MIRELO_TEST_MYSQL_USER, MIRELO_TEST_MYSQL_PASSWORD, MIRELO_TEST_MYSQL_DATABASE
#                               the same for MariaDB; the user has every right on the
#                               test database, routines included
#   MIRELO_TEST_PG_SHOP_DATABASE, MIRELO_TEST_MYSQL_SHOP_DATABASE
#                               a second database on the server of MIRELO_TEST_*_PORT,
#                               owned by the same user, holding the demo shop of
#                               tools/sampledata (users, customers, products, orders,
#                               order_items)
#   MIRELO_TEST_PG_LATIN2_DATABASE
#                               an empty database in LATIN2 (collation and character
#                               type C) on the server of MIRELO_TEST_PG_PORT, owned by the
#                               same user
#   MIRELO_TEST_MYSQL_PLAIN_PID_FILE
#                               the process id file of the MariaDB server without TLS
#                               (tests freeze that server for a moment)
#   MIRELO_TEST_DB_ROOT         the folder holding the servers' data and logs
#
# The MariaDB user may also change the server's connection settings (CONNECTION ADMIN), so
# that tests can check what a read-only session lets through. The PostgreSQL user may create
# databases, and the MariaDB user those named mirelo_e2e_…, so that a test that changes the
# sample shop can load a copy of its own.

MIRELO_PG_BIN="${MIRELO_PG_BIN:-/usr/lib/postgresql/15/bin}"
MIRELO_DB_USER_NAME="mirelo"
MIRELO_DB_DATABASE="mirelo_test"
MIRELO_DB_SHOP_DATABASE="mirelo_shop"
MIRELO_DB_LATIN2_DATABASE="mirelo_latin2"
MIRELO_SAMPLE_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tools/sampledata" && pwd)"

# Runs a command as the given account when we are root, else as ourselves.
_mirelo_db_as() {
    local account="$1"
    shift
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u "$account" -- "$@"
    else
        "$@"
    fi
}

# The same for a long-lived server, which replaces the calling (sub)shell: no wrapper
# process stays in between, since runuser stops itself whenever its child is stopped, and
# a test that freezes the server for a moment would leave it stopped for good.
_mirelo_db_exec_as() {
    local account="$1"
    shift
    if [ "$(id -u)" -eq 0 ]; then
        exec setpriv --reuid="$account" --regid="$account" --init-groups -- "$@"
    else
        exec "$@"
    fi
}

_mirelo_db_account() {
    if [ "$(id -u)" -eq 0 ]; then
        echo "$1"
    else
        id -un
    fi
}

# A port of 127.0.0.1 nobody listens on right now. Another process may still take it
# before the server binds it, so starting retries with a new port.
_mirelo_db_free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 40000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return 0
        fi
    done
}

_mirelo_db_folder() {
    local dir="$MIRELO_TEST_DB_ROOT/$1"
    mkdir -p "$dir"
    chmod 700 "$dir"
    [ "$(id -u)" -eq 0 ] && chown "$2:" "$dir"
    echo "$dir"
}

_mirelo_db_certificate() {
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
        -subj "/CN=localhost" -keyout "$MIRELO_TEST_DB_ROOT/server.key" \
        -out "$MIRELO_TEST_DB_ROOT/server.crt" 2>/dev/null
}

# Copies the certificate into a server's folder, owned by its account, key private.
_mirelo_db_install_certificate() {
    local dir="$1" account="$2"
    cp "$MIRELO_TEST_DB_ROOT/server.crt" "$MIRELO_TEST_DB_ROOT/server.key" "$dir/"
    chmod 600 "$dir/server.key"
    [ "$(id -u)" -eq 0 ] && chown "$account:" "$dir/server.crt" "$dir/server.key"
    return 0
}

# Starts one PostgreSQL cluster from dir/data on a free port; prints the port.
_mirelo_pg_run() {
    local dir="$1" account="$2" port
    for _ in 1 2 3 4 5; do
        port="$(_mirelo_db_free_port)"
        if _mirelo_db_as "$account" "$MIRELO_PG_BIN/pg_ctl" start -w -t 60 -D "$dir/data" -l "$dir/server.log" \
            -o "-p $port -k $dir" >/dev/null 2>&1; then
            echo "$port"
            return 0
        fi
    done
    echo "PostgreSQL did not start; see $dir/server.log" >&2
    return 1
}

_mirelo_pg_start() {
    local account dir plain
    account="$(_mirelo_db_account postgres)"
    dir="$(_mirelo_db_folder pg "$account")"
    plain="$(_mirelo_db_folder pg-plain "$account")"
    _mirelo_db_as "$account" "$MIRELO_PG_BIN/initdb" -D "$dir/data" -U postgres -E UTF8 --locale=C.UTF-8 -N \
        --auth-local=trust --auth-host=scram-sha-256 >"$dir/initdb.log" 2>&1 || {
        echo "initdb failed; see $dir/initdb.log" >&2
        return 1
    }
    cat >>"$dir/data/postgresql.conf" <<EOF
listen_addresses = '127.0.0.1'
max_connections = 20
shared_buffers = 32MB
fsync = off
synchronous_commit = off
full_page_writes = off
EOF
    _mirelo_db_as "$account" cp -a "$dir/data" "$plain/data"
    _mirelo_db_install_certificate "$dir" "$account"
    cat >>"$dir/data/postgresql.conf" <<EOF
ssl = on
ssl_cert_file = '$dir/server.crt'
ssl_key_file = '$dir/server.key'
EOF
    echo "ssl = off" >>"$plain/data/postgresql.conf"

    MIRELO_TEST_PG_PORT="$(_mirelo_pg_run "$dir" "$account")" || return 1
    MIRELO_TEST_PG_PLAIN_PORT="$(_mirelo_pg_run "$plain" "$account")" || return 1
    local port setup
    for port in "$MIRELO_TEST_PG_PORT" "$MIRELO_TEST_PG_PLAIN_PORT"; do
        [ "$port" = "$MIRELO_TEST_PG_PORT" ] && setup="$dir" || setup="$plain"
        psql -h "$setup" -p "$port" -U postgres -d postgres -X -q -v ON_ERROR_STOP=1 \
            -c "CREATE ROLE $MIRELO_DB_USER_NAME LOGIN CREATEDB PASSWORD '$MIRELO_TEST_PG_PASSWORD'" \
            -c "CREATE DATABASE $MIRELO_DB_DATABASE OWNER $MIRELO_DB_USER_NAME" >/dev/null || return 1
    done
    psql -h "$dir" -p "$MIRELO_TEST_PG_PORT" -U postgres -d postgres -X -q -v ON_ERROR_STOP=1 \
        -c "CREATE DATABASE $MIRELO_DB_SHOP_DATABASE OWNER $MIRELO_DB_USER_NAME" \
        -c "CREATE DATABASE $MIRELO_DB_LATIN2_DATABASE OWNER $MIRELO_DB_USER_NAME ENCODING 'LATIN2' \
            TEMPLATE template0 LC_COLLATE 'C' LC_CTYPE 'C'" >/dev/null || return 1
    PGPASSWORD="$MIRELO_TEST_PG_PASSWORD" psql -h 127.0.0.1 -p "$MIRELO_TEST_PG_PORT" -U "$MIRELO_DB_USER_NAME" \
        -d "$MIRELO_DB_SHOP_DATABASE" -X -q -f "$MIRELO_SAMPLE_DIR/postgresql.sql" >"$dir/sample.log" 2>&1 || {
        echo "Loading the sample data into PostgreSQL failed; see $dir/sample.log" >&2
        return 1
    }
    export MIRELO_TEST_PG_HOST=127.0.0.1 MIRELO_TEST_PG_PORT MIRELO_TEST_PG_PLAIN_PORT
    export MIRELO_TEST_PG_USER="$MIRELO_DB_USER_NAME" MIRELO_TEST_PG_DATABASE="$MIRELO_DB_DATABASE"
    export MIRELO_TEST_PG_SHOP_DATABASE="$MIRELO_DB_SHOP_DATABASE"
    export MIRELO_TEST_PG_LATIN2_DATABASE="$MIRELO_DB_LATIN2_DATABASE"
}

# Starts one MariaDB server over dir/data; extra server options follow. Prints the port.
_mirelo_mysql_run() {
    local dir="$1" account="$2" port
    shift 2
    for _ in 1 2 3 4 5; do
        port="$(_mirelo_db_free_port)"
        rm -f "$dir/server.pid"
        _mirelo_db_exec_as "$account" /usr/sbin/mariadbd --no-defaults --datadir="$dir/data" --port="$port" \
            --bind-address=127.0.0.1 --socket="$dir/server.sock" --pid-file="$dir/server.pid" \
            --log-error="$dir/server.log" --skip-name-resolve --innodb-buffer-pool-size=32M \
            --innodb-log-file-size=8M --innodb-flush-log-at-trx-commit=0 --init-file="$MIRELO_TEST_DB_ROOT/mysql-init.sql" \
            "$@" >/dev/null 2>&1 &
        local launcher=$!
        for _ in $(seq 1 300); do
            if MYSQL_PWD="$MIRELO_TEST_MYSQL_PASSWORD" mariadb --no-defaults -h 127.0.0.1 -P "$port" \
                -u "$MIRELO_DB_USER_NAME" -e 'SELECT 1' "$MIRELO_DB_DATABASE" >/dev/null 2>&1; then
                echo "$port"
                return 0
            fi
            kill -0 "$launcher" 2>/dev/null || break
            sleep 0.1
        done
        kill "$launcher" 2>/dev/null
        wait "$launcher" 2>/dev/null
    done
    echo "MariaDB did not start; see $dir/server.log" >&2
    return 1
}

_mirelo_mysql_start() {
    local account dir plain
    account="$(_mirelo_db_account mysql)"
    dir="$(_mirelo_db_folder mysql "$account")"
    plain="$(_mirelo_db_folder mysql-plain "$account")"
    cat >"$MIRELO_TEST_DB_ROOT/mysql-init.sql" <<EOF
CREATE USER IF NOT EXISTS '$MIRELO_DB_USER_NAME'@'%' IDENTIFIED BY '$MIRELO_TEST_MYSQL_PASSWORD';
CREATE DATABASE IF NOT EXISTS $MIRELO_DB_DATABASE CHARACTER SET utf8mb4;
GRANT ALL PRIVILEGES ON $MIRELO_DB_DATABASE.* TO '$MIRELO_DB_USER_NAME'@'%';
CREATE DATABASE IF NOT EXISTS $MIRELO_DB_SHOP_DATABASE CHARACTER SET utf8mb4;
GRANT ALL PRIVILEGES ON $MIRELO_DB_SHOP_DATABASE.* TO '$MIRELO_DB_USER_NAME'@'%';
GRANT CONNECTION ADMIN ON *.* TO '$MIRELO_DB_USER_NAME'@'%';
GRANT ALL PRIVILEGES ON \`${MIRELO_DB_USER_NAME}\\_e2e\\_%\`.* TO '$MIRELO_DB_USER_NAME'@'%';
EOF
    chmod 644 "$MIRELO_TEST_DB_ROOT/mysql-init.sql"
    _mirelo_db_as "$account" mariadb-install-db --no-defaults --datadir="$dir/data" --skip-test-db \
        --auth-root-authentication-method=socket --innodb-log-file-size=8M --innodb-buffer-pool-size=16M \
        >"$dir/install.log" 2>&1 || {
        echo "mariadb-install-db failed; see $dir/install.log" >&2
        return 1
    }
    _mirelo_db_as "$account" cp -a "$dir/data" "$plain/data"
    _mirelo_db_install_certificate "$dir" "$account"

    MIRELO_TEST_MYSQL_PORT="$(_mirelo_mysql_run "$dir" "$account" \
        --ssl-cert="$dir/server.crt" --ssl-key="$dir/server.key")" || return 1
    MIRELO_TEST_MYSQL_PLAIN_PORT="$(_mirelo_mysql_run "$plain" "$account")" || return 1
    MYSQL_PWD="$MIRELO_TEST_MYSQL_PASSWORD" mariadb --no-defaults -h 127.0.0.1 -P "$MIRELO_TEST_MYSQL_PORT" \
        -u "$MIRELO_DB_USER_NAME" "$MIRELO_DB_SHOP_DATABASE" <"$MIRELO_SAMPLE_DIR/mysql.sql" >"$dir/sample.log" 2>&1 || {
        echo "Loading the sample data into MariaDB failed; see $dir/sample.log" >&2
        return 1
    }
    export MIRELO_TEST_MYSQL_HOST=127.0.0.1 MIRELO_TEST_MYSQL_PORT MIRELO_TEST_MYSQL_PLAIN_PORT
    export MIRELO_TEST_MYSQL_USER="$MIRELO_DB_USER_NAME" MIRELO_TEST_MYSQL_DATABASE="$MIRELO_DB_DATABASE"
    export MIRELO_TEST_MYSQL_SHOP_DATABASE="$MIRELO_DB_SHOP_DATABASE"
    export MIRELO_TEST_MYSQL_PLAIN_PID_FILE="$plain/server.pid"
}

# Arguments: the kinds to start, "pg" and/or "mysql"; none starts both.
# shellcheck disable=SC2120 # the kinds are optional
mirelo_db_start() {
    local kinds=("$@") kind summary=
    [ ${#kinds[@]} -gt 0 ] || kinds=(pg mysql)
    for kind in "${kinds[@]}"; do
        case "$kind" in
        pg | mysql) ;;
        *)
            echo "mirelo_db_start: unknown server kind \"$kind\"; use pg or mysql." >&2
            return 1
            ;;
        esac
    done
    MIRELO_TEST_DB_ROOT="$(mktemp -d "${TMPDIR:-/tmp}/mirelo-db.XXXXXX")" || return 1
    chmod 755 "$MIRELO_TEST_DB_ROOT"
    export MIRELO_TEST_DB_ROOT
    MIRELO_TEST_PG_PASSWORD="pg-$(openssl rand -hex 12)" || return 1
    MIRELO_TEST_MYSQL_PASSWORD="my-$(openssl rand -hex 12)" || return 1
    export MIRELO_TEST_PG_PASSWORD MIRELO_TEST_MYSQL_PASSWORD
    _mirelo_db_certificate || {
        echo "Could not make the servers' certificate." >&2
        return 1
    }
    for kind in "${kinds[@]}"; do
        if [ "$kind" = pg ]; then
            _mirelo_pg_start || return 1
            summary+="${summary:+, }PostgreSQL on $MIRELO_TEST_PG_PORT (plain $MIRELO_TEST_PG_PLAIN_PORT)"
        else
            _mirelo_mysql_start || return 1
            summary+="${summary:+, }MariaDB on $MIRELO_TEST_MYSQL_PORT (plain $MIRELO_TEST_MYSQL_PLAIN_PORT)"
        fi
    done
    echo "Database servers: $summary"
}

mirelo_db_stop() {
    # Runs from EXIT traps of scripts under "set -e": nothing here may stop it half-way.
    local root="${MIRELO_TEST_DB_ROOT:-}" dir pid
    [ -n "$root" ] && [ -d "$root" ] || return 0
    for dir in "$root/pg" "$root/pg-plain"; do
        [ -f "$dir/data/postmaster.pid" ] || continue
        _mirelo_db_as "$(_mirelo_db_account postgres)" "$MIRELO_PG_BIN/pg_ctl" stop -D "$dir/data" -m immediate \
            -w >/dev/null 2>&1 || true
    done
    for dir in "$root/mysql" "$root/mysql-plain"; do
        pid="$(cat "$dir/server.pid" 2>/dev/null)" || continue
        kill "$pid" 2>/dev/null || continue
        for _ in $(seq 1 100); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
    done
    rm -rf "$root" || true
    unset MIRELO_TEST_DB_ROOT
}
