#!/bin/sh
# Group "pop3": the POP3 layer (open, authenticate, fetch and remove each
# message, quit) and the classic library calls on top of it (status, size,
# whole message, delete, close) against mpop fetching and deleting the same
# mailbox from the same local Dovecot, all over STLS. First on loopback with
# 1000 messages, then through a proxy that delays every chunk by 25 ms each way
# with 200 messages; then the peak memory of fetching one 50 MB message.
# Medians of CORVIDAN_BENCH_REPEAT runs (default 5).
set -eu
src="$CORVIDAN_SOURCE_DIR"
build="$CORVIDAN_BENCH_BUILD"
here="$src/bench/pop3"
count=${CORVIDAN_BENCH_POP3_MESSAGES:-1000}
count_rtt=${CORVIDAN_BENCH_POP3_RTT_MESSAGES:-200}
repeat=${CORVIDAN_BENCH_REPEAT:-5}

cmake --build "$build" --target pop3-bench >&2
command -v mpop >/dev/null || { echo "mpop is not installed" >&2; exit 1; }

# The server's mail lives in memory too: on this disk (ext4 with discard) the
# expunge at QUIT took most of a run, the same for both clients, and hid them.
work=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
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
# The server keeps its maildir in a folder of its own under $TMPDIR: in memory too.
TMPDIR=$(dirname "$work") sh "$src/tests/servers/dovecot-start.sh" "$work/server" >&2
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

run_layer() { # PORT N [--calls]
    reset_mailbox "$2"
    start=$(now)
    "$build/bench/pop3-bench" ${3:-} "$HOST:$1" "$POP3_USER" "$POP3_PASSWORD" "$CA_FILE" "$2" >&2
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

ratio() { echo "scale=3; $1 / $2" | bc; }

compare() { # PREFIX SUFFIX PORT N: PREFIX_layer SUFFIX, PREFIX_calls, PREFIX_mpop and their ratios
    : > "$work/layer"
    : > "$work/calls"
    : > "$work/mpop"
    i=0
    while [ $i -lt "$repeat" ]; do
        run_layer "$3" "$4" >> "$work/layer"
        run_layer "$3" "$4" --calls >> "$work/calls"
        run_mpop "$3" "$4" >> "$work/mpop"
        i=$((i + 1))
    done
    echo "pop3: layer runs $(tr "\n" " " < "$work/layer"); calls runs $(tr "\n" " " < "$work/calls"); mpop runs $(tr "\n" " " < "$work/mpop")" >&2
    layer=$(median < "$work/layer")
    calls=$(median < "$work/calls")
    theirs=$(median < "$work/mpop")
    echo "$1_layer$2_s $(printf '%.3f' "$layer") s"
    echo "$1_calls$2_s $(printf '%.3f' "$calls") s"
    echo "$1_mpop$2_s $(printf '%.3f' "$theirs") s"
    echo "$1_layer$2_vs_mpop $(ratio "$layer" "$theirs") x"
    echo "$1_calls$2_vs_mpop $(ratio "$calls" "$theirs") x"
}

compare pop3 "" "$POP3_PORT" "$count"

python3 "$here/delay-proxy.py" "$POP3_PORT" 25 "$work/proxy.port" &
proxy_pid=$!
i=0
while [ ! -s "$work/proxy.port" ]; do
    i=$((i + 1))
    [ $i -gt 100 ] && { echo "the delay proxy did not start" >&2; exit 1; }
    sleep 0.1
done
compare pop3 _rtt50 "$(cat "$work/proxy.port")" "$count_rtt"
kill "$proxy_pid" 2>/dev/null || true
proxy_pid=""

# One 50 MB message (CORVIDAN_BENCH_POP3_BIG_MB), fetched and dropped, not deleted.
rm -f "$MAILDIR"/new/* "$MAILDIR"/cur/*
python3 - "$MAILDIR/new/big.bench" "${CORVIDAN_BENCH_POP3_BIG_MB:-50}" <<'PY'
import os, sys
path, mb = sys.argv[1], int(sys.argv[2])
line = b"0123456789abcdefghijklmnopqrstuvwxyz.ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789\r\n"
with open(path, "wb") as f:
    f.write(b"From: big@example.jp\r\nSubject: big\r\n\r\n")
    f.write(b".leading dot\r\n" + line * (mb * 1024 * 1024 // len(line)))
os.chmod(path, 0o644)
PY
sync
big=$("$build/bench/pop3-bench" --big "$HOST:$POP3_PORT" "$POP3_USER" "$POP3_PASSWORD" "$CA_FILE" 1)
echo "pop3_big_peak_rss_ratio $big x"
