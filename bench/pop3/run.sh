#!/bin/sh
# Group "pop3": the mail library's POP3 calls (connect, authenticate, status,
# size, whole message, delete, close) against mpop fetching and deleting the
# same mailbox from the same local Dovecot, both over STLS. First on loopback
# with 1000 messages, then through a proxy that delays every chunk by 25 ms each
# way with 200 messages. Medians of CORVIDAN_BENCH_REPEAT runs (default 5).
set -eu
src="$CORVIDAN_SOURCE_DIR"
build="$CORVIDAN_BENCH_BUILD"
here="$src/bench/pop3"
count=${CORVIDAN_BENCH_POP3_MESSAGES:-1000}
count_rtt=${CORVIDAN_BENCH_POP3_RTT_MESSAGES:-200}
repeat=${CORVIDAN_BENCH_REPEAT:-5}

cmake --build "$build" --target pop3-bench >&2
command -v mpop >/dev/null || { echo "mpop is not installed" >&2; exit 1; }

work=$(mktemp -d)
chmod 0755 "$work" # the mail user (nobody) reads below it
# mpop writes what it fetches; keep that off the disk so only the fetching is timed.
scratch=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
proxy_pid=""
cleanup() {
    [ -n "$proxy_pid" ] && kill "$proxy_pid" 2>/dev/null || true
    sh "$src/tests/servers/dovecot-stop.sh" "$work/server" >&2 || true
    rm -rf "$work" "$scratch"
}
trap cleanup EXIT INT TERM
sh "$src/tests/servers/dovecot-start.sh" "$work/server" >&2
. "$work/server/pop3.env"
python3 "$here/make-messages.py" "$work/messages" "$count"
echo "pop3: $(du -sh "$work/messages" | cut -f1) in $count messages" >&2

# Every run gets the same first N messages under fresh maildir names.
delivery=0
reset_mailbox() {
    delivery=$((delivery + 1))
    rm -f "$MAILDIR"/new/* "$MAILDIR"/cur/*
    python3 - "$work/messages" "$MAILDIR" "$delivery" "$1" <<'PY'
import os, shutil, sys
src, maildir, run, n = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
for name in sorted(os.listdir(src))[:n]:
    dst = os.path.join(maildir, "new", "%s.R%s.bench" % (name, run))
    shutil.copyfile(os.path.join(src, name), dst)
    os.chmod(dst, 0o644)
PY
    sync
}

mailbox_empty() { [ -z "$(find "$MAILDIR/new" "$MAILDIR/cur" -type f)" ]; }
now() { date +%s.%N; }

run_layer() { # PORT N
    reset_mailbox "$2"
    start=$(now)
    "$build/bench/pop3-bench" "$HOST:$1" "$POP3_USER" "$POP3_PASSWORD" "$CA_FILE" "$2" >&2
    end=$(now)
    mailbox_empty || { echo "the layer left mail on the server" >&2; exit 1; }
    echo "$end - $start" | bc
}

run_mpop() { # PORT N
    out="$scratch/mpop-out"
    rm -rf "$out" "$scratch/uidls"
    mkdir -p "$out/new" "$out/cur" "$out/tmp"
    cat > "$work/mpoprc" <<RC
account bench
host $HOST
port $1
tls on
tls_starttls on
tls_trust_file $CA_FILE
auth user
user $POP3_USER
password $POP3_PASSWORD
delivery maildir $out
keep off
uidls_file $scratch/uidls
RC
    chmod 0600 "$work/mpoprc"
    reset_mailbox "$2"
    start=$(now)
    mpop -C "$work/mpoprc" -q bench >&2
    end=$(now)
    if [ "$(ls "$out/new" | wc -l)" -ne "$2" ] || ! mailbox_empty; then
        echo "mpop did not receive everything" >&2
        exit 1
    fi
    echo "$end - $start" | bc
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

compare() { # NAME_LAYER NAME_MPOP NAME_RATIO PORT N
    : > "$work/layer"
    : > "$work/mpop"
    i=0
    while [ $i -lt "$repeat" ]; do
        run_layer "$4" "$5" >> "$work/layer"
        run_mpop "$4" "$5" >> "$work/mpop"
        i=$((i + 1))
    done
    echo "pop3: layer runs $(tr '\n' ' ' < "$work/layer"); mpop runs $(tr '\n' ' ' < "$work/mpop")" >&2
    layer=$(median < "$work/layer")
    theirs=$(median < "$work/mpop")
    echo "$1 $(printf '%.3f' "$layer") s"
    echo "$2 $(printf '%.3f' "$theirs") s"
    echo "$3 $(echo "scale=3; $layer / $theirs" | bc) x"
}

compare pop3_layer_s pop3_mpop_s pop3_layer_vs_mpop "$POP3_PORT" "$count"

python3 "$here/delay-proxy.py" "$POP3_PORT" 25 "$work/proxy.port" &
proxy_pid=$!
i=0
while [ ! -s "$work/proxy.port" ]; do
    i=$((i + 1))
    [ $i -gt 100 ] && { echo "the delay proxy did not start" >&2; exit 1; }
    sleep 0.1
done
compare pop3_layer_rtt50_s pop3_mpop_rtt50_s pop3_layer_rtt50_vs_mpop "$(cat "$work/proxy.port")" "$count_rtt"
