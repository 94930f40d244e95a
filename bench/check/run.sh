#!/bin/sh
# Group "check": the connection check of the settings hub (six probes at once,
# logins included) against a local Dovecot and SMTP server, two of the probed
# ports accepting connections and never answering. Median of
# CORVIDAN_BENCH_REPEAT runs (default 5).
set -eu
src="$CORVIDAN_SOURCE_DIR"
build="$CORVIDAN_BENCH_BUILD"
repeat=${CORVIDAN_BENCH_REPEAT:-5}

cmake --build "$build" --target bench_check >&2

work=$(mktemp -d)
chmod 0755 "$work" # the mail server runs as nobody and reads below it
cleanup() {
    sh "$src/tests/servers/smtp-stop.sh" "$work/server" >&2 || true
    sh "$src/tests/servers/dovecot-stop.sh" "$work/server" >&2 || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
sh "$src/tests/servers/dovecot-start.sh" "$work/server" >&2
sh "$src/tests/servers/smtp-start.sh" "$work/server" >&2

"$build/bench/bench_check" "$work/server" "$repeat"
