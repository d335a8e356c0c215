#!/bin/bash
# SPDX-License-Identifier: MIT
# SIGTERM and SIGHUP end the running program through its normal exit path:
# it exits 0, having written what a closing window writes (the open tape's
# place) and synced its kept tape, with no exit question waiting.
set -u
quillo=$1
fail=0
for signal in TERM HUP; do
    dir=$(mktemp -d)
    mkdir -p "$dir/config/quillo"
    conf=$dir/config/quillo/quillo.conf
    printf '[tape]\nopen=true\n' >"$conf"
    before=$(stat -c %i "$conf")
    XDG_CONFIG_HOME=$dir/config XDG_STATE_HOME=$dir/state HOME=$dir QT_QPA_PLATFORM=offscreen \
        "$quillo" &
    pid=$!
    # Ready once the tape has opened: its opening writes the file anew.
    for _ in $(seq 100); do
        [ "$(stat -c %i "$conf")" != "$before" ] && break
        sleep 0.1
    done
    kill -s "$signal" "$pid"
    status=124
    for _ in $(seq 100); do
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid"
            status=$?
            break
        fi
        sleep 0.1
    done
    if [ "$status" = 124 ]; then
        kill -KILL "$pid"
        wait "$pid"
    fi
    if [ "$status" != 0 ]; then
        echo "SIG$signal: exit status $status, not 0"
        fail=1
    elif ! grep -q '^geometry=' "$conf" || ! grep -q '^open=true' "$conf"; then
        echo "SIG$signal: the exit path did not run: the open tape not remembered as a close leaves it"
        cat "$conf"
        fail=1
    else
        echo "SIG$signal: exit 0, the open tape remembered"
    fi
    rm -rf "$dir"
done
exit $fail
