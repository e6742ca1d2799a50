#!/usr/bin/env bash
# Runs tests/wire/client.js (Node's tedious) against bin/sqlsim: once against a default server,
# once against one started with --force-encryption, and checks how the server took each login;
# then against a Windows server on another machine (--server-root), and one installed in
# Russian (--default-language russian).
#   run-tedious.sh SQLSIM_BINARY WORK_FOLDER
# tedious is installed from the npm registry into WORK_FOLDER (not into the source tree); a
# registry that cannot be reached fails the test.
set -euo pipefail

sqlsim=$1
work=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The 18 line supports Node 18, Debian 12's.
tedious_version=18.6.2

for tool in node npm; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/setup-deps installs it)" >&2; exit 1; }
done
mkdir -p "$work"
installed=$(node -p "require('$work/node_modules/tedious/package.json').version" 2>/dev/null || true)
if [[ $installed != "$tedious_version" ]]; then
    echo "Installing tedious@$tedious_version into $work"
    if ! npm install --prefix "$work" --no-save --no-package-lock --no-audit --no-fund \
        "tedious@$tedious_version" >"$work/npm.log" 2>&1; then
        cat "$work/npm.log" >&2
        echo "FAIL: could not install tedious@$tedious_version from the npm registry" >&2
        exit 1
    fi
fi
export NODE_PATH=$work/node_modules

# shellcheck source=scripts/lib/sqlsim.sh
source "$here/../../scripts/lib/sqlsim.sh"
password=Wire-Pass1
SQLSIM_WORK=$(mktemp -d)

run_against() {
    local kind=$1
    shift
    mkdir -p "$SQLSIM_WORK/$kind"
    sqlsim_start "$sqlsim" "$SQLSIM_WORK/$kind" "$password" --log "$SQLSIM_WORK/$kind.log" "$@"
    if ! node "$here/client.js" "$SQLSIM_PORT" "$password" "$kind" "$SQLSIM_WORK/$kind"; then
        echo "--- requests the server logged (lines cut at 300 characters):" >&2
        cut -c1-300 "$SQLSIM_WORK/$kind.log" >&2
        exit 1
    fi
    sqlsim_stop_server
}

# Stops the simulator but keeps the work folder for the next run.
sqlsim_stop_server() {
    kill "$SQLSIM_PID" 2>/dev/null || true
    wait "$SQLSIM_PID" 2>/dev/null || true
    SQLSIM_PID=
}

expect_logins() {
    local log=$1 expected=$2 actual
    actual=$(grep -E '^login( refused)?:' "$log" | sed -E 's/ database=[^ ]*//' | paste -sd '|' -)
    if [[ $actual != "$expected" ]]; then
        echo "FAIL: logins in $log: '$actual', expected '$expected'" >&2
        exit 1
    fi
}

run_against plain
expect_logins "$SQLSIM_WORK/plain.log" 'login: sa encryption=none|login: sa encryption=all|login: sa encryption=none'
run_against forced --force-encryption
expect_logins "$SQLSIM_WORK/forced.log" \
    'login: sa encryption=all|login refused: the client cannot encrypt and the server requires it'
mkdir -p "$SQLSIM_WORK/remote-disks/D"
# A login with no server role and no user in any database.
printf 'viewer=Wire-View1; server_roles=\n' >"$SQLSIM_WORK/logins.txt"
run_against remote --server-root "$SQLSIM_WORK/remote-disks" --logins "$SQLSIM_WORK/logins.txt"
[[ -f $SQLSIM_WORK/remote-disks/D/Wire/Deep/wiredb.bak ]] || { echo "FAIL: no backup on the server's drive D:" >&2; exit 1; }
run_against russian --default-language russian
echo "tedious: all passed"
