#!/bin/sh
# Group "send": the compose window's bulk send to N address book entries (default
# 200) through bench_send (every pass writes its sent record durably, then hands the
# message over; all passes share one SMTP connection), against msmtp sending the
# same N messages, as our server received them, one process per message. Both go
# to a local SMTP sink (bench/send/smtp_sink.py). Medians of CORVIDAN_BENCH_REPEAT
# runs (default 5), the two alternating.
set -eu
src="$CORVIDAN_SOURCE_DIR"
build="$CORVIDAN_BENCH_BUILD"
count=${CORVIDAN_BENCH_MESSAGES:-200}
repeat=${CORVIDAN_BENCH_REPEAT:-5}

cmake --build "$build" --target bench_send >&2
command -v msmtp >/dev/null || { echo "msmtp is not installed" >&2; exit 1; }

work=$(mktemp -d)
sink_pid=
cleanup() {
    if [ -n "$sink_pid" ] && kill -0 "$sink_pid" 2>/dev/null; then
        kill -TERM "$sink_pid"
        wait "$sink_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# Debian's python: a pyenv python earlier on PATH does not see python3-aiosmtpd.
/usr/bin/python3 "$src/bench/send/smtp_sink.py" "$work/sink" >"$work/sink.log" 2>&1 &
sink_pid=$!
i=0
while [ ! -f "$work/sink/sink.env" ]; do
    i=$((i + 1))
    if [ $i -gt 100 ] || ! kill -0 "$sink_pid" 2>/dev/null; then
        cat "$work/sink.log" >&2
        exit 1
    fi
    sleep 0.1
done
. "$work/sink/sink.env"

now() { date +%s.%N; }
spooled() { find "$SINK_SPOOL" -name '*.eml' | wc -l; }

run_corvidan() {
    rm -rf "$work/app" "$SINK_SPOOL"/*
    sync
    seconds=$("$build/bench/bench_send" --server "127.0.0.1:$SINK_PORT" --count "$count" --appdir "$work/app")
    if [ "$(spooled)" -ne "$count" ]; then
        echo "bench_send: the server holds $(spooled) of $count messages" >&2
        exit 1
    fi
    # msmtp gets exactly these messages next.
    rm -rf "$work/messages"
    cp -r "$SINK_SPOOL" "$work/messages"
    echo "$seconds"
}

run_msmtp() {
    rm -f "$SINK_SPOOL"/*
    : > "$work/msmtprc"
    chmod 0600 "$work/msmtprc"
    sync
    start=$(now)
    for eml in "$work/messages"/*.eml; do
        msmtp -C "$work/msmtprc" --host=127.0.0.1 --port="$SINK_PORT" --auth=off --tls=off \
            --from=sender@example.jp -- "$(head -n 1 "${eml%.eml}.rcpt")" < "$eml"
    done
    end=$(now)
    if [ "$(spooled)" -ne "$count" ]; then
        echo "msmtp: the server holds $(spooled) of $count messages" >&2
        exit 1
    fi
    echo "$end - $start" | bc
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: > "$work/ours"
: > "$work/theirs"
i=0
while [ $i -lt "$repeat" ]; do
    run_corvidan >> "$work/ours"
    run_msmtp >> "$work/theirs"
    i=$((i + 1))
done
ours=$(median < "$work/ours")
theirs=$(median < "$work/theirs")
echo "bulk_send_${count}_s $(printf '%.3f' "$ours") s"
echo "bulk_msmtp_${count}_s $(printf '%.3f' "$theirs") s"
echo "bulk_send_vs_msmtp $(echo "scale=3; $ours / $theirs" | bc) x"
