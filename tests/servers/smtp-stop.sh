#!/bin/sh
# Stops the test SMTP server started by smtp-start.sh for STATE_DIR.
set -eu
STATE_DIR=${1:?usage: smtp-stop.sh STATE_DIR}
PID_FILE="$STATE_DIR/smtp.pid"
[ -f "$PID_FILE" ] || exit 0
pid=$(cat "$PID_FILE")
# Only the process this fixture started, never a recycled pid.
if kill -0 "$pid" 2>/dev/null && grep -q smtp_server.py "/proc/$pid/cmdline" 2>/dev/null; then
    kill -TERM "$pid"
    i=0
    while kill -0 "$pid" 2>/dev/null && [ "$i" -lt 50 ]; do
        i=$((i + 1))
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
fi
rm -f "$PID_FILE" "$STATE_DIR/smtp.env"
