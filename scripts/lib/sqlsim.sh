# shellcheck shell=bash
# Shell helpers for scripts that talk to the SQL Server simulator with FreeTDS's own tools.
# Source it; it sets SQLSIM_PORT and SQLSIM_PID and stops the simulator on exit.

# sqlsim_start BINARY DATA_DIR PASSWORD [ARGS...]: starts it on a free port and waits for the port.
sqlsim_start() {
    local binary=$1 data=$2 password=$3
    shift 3
    SQLSIM_OUT=$(mktemp)
    SQLSIM_ERR=$(mktemp)
    # SQLSIM_TEST_ARGS: options the tests' variants add to every simulator (words, unquoted).
    # shellcheck disable=SC2086
    "$binary" --port 0 --data "$data" --password "$password" ${SQLSIM_TEST_ARGS:-} "$@" >"$SQLSIM_OUT" 2>"$SQLSIM_ERR" &
    SQLSIM_PID=$!
    trap sqlsim_stop EXIT
    local _
    for _ in $(seq 300); do
        [[ -s $SQLSIM_OUT ]] && break
        kill -0 "$SQLSIM_PID" 2>/dev/null || { cat "$SQLSIM_ERR" >&2; return 1; }
        sleep 0.1
    done
    SQLSIM_PORT=$(head -n 1 "$SQLSIM_OUT")
    [[ $SQLSIM_PORT =~ ^[0-9]+$ ]] || { echo "the simulator printed no port" >&2; cat "$SQLSIM_ERR" >&2; return 1; }
}

sqlsim_stop() {
    if [[ -n ${SQLSIM_PID:-} ]]; then
        kill "$SQLSIM_PID" 2>/dev/null || true
        wait "$SQLSIM_PID" 2>/dev/null || true
        SQLSIM_PID=
    fi
    rm -f "${SQLSIM_OUT:-}" "${SQLSIM_ERR:-}"
    if [[ -n ${SQLSIM_WORK:-} ]]; then
        rm -rf "$SQLSIM_WORK"
    fi
}

# sqlsim_dsn FOLDER DATABASE: a DSN "sqlsim" of our own, so nothing of the machine's ODBC or
# FreeTDS set-up takes part.
sqlsim_dsn() {
    local folder=$1 database=$2
    cat >"$folder/odbc.ini" <<INI
[sqlsim]
Driver = FreeTDS
Server = 127.0.0.1
Port = $SQLSIM_PORT
Database = $database
TDS_Version = 7.4
ClientCharset = UTF-8
INI
    touch "$folder/freetds.conf"
    export ODBCINI=$folder/odbc.ini FREETDSCONF=$folder/freetds.conf TDSVER=7.4
}

# sqlsim_errors FILE...: prints the server errors (severity 11 and above) that tsql reported.
sqlsim_errors() {
    grep -h -A1 -E '^Msg [0-9]+ \(severity (1[1-9]|2[0-9])' "$@" || true
}

# sqlsim_sql PASSWORD FILE [OUTPUT]: runs the batches of FILE (separated by "go") as "sa" with
# tsql. Fails, printing the first errors, when the server reported any. OUTPUT keeps what tsql
# printed (default: a temporary file, removed).
sqlsim_sql() {
    local password=$1 file=$2 output=${3:-} errors keep=1
    if [[ -z $output ]]; then
        output=$(mktemp)
        keep=
    fi
    { cat "$file"; printf '\nexit\n'; } |
        tsql -o q -H 127.0.0.1 -p "$SQLSIM_PORT" -U sa -P "$password" >"$output" 2>&1 || true
    errors=$(sqlsim_errors "$output")
    # tsql reports a refused login or a lost connection without a severity line.
    if [[ -z $errors ]]; then
        errors=$(grep -h -E 'Login failed|Adaptive Server connection failed|There was a problem connecting' "$output" || true)
    fi
    [[ -n $keep ]] || rm -f "$output"
    if [[ -n $errors ]]; then
        head -n 6 <<<"$errors" >&2
        return 1
    fi
}
