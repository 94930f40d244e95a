#!/bin/sh
# Group "receive": the whole receive of 1000 messages from a local Dovecot through
# corvidan-receive (records durably written, attachments extracted, messages
# deleted, session closed) against mpop fetching and deleting the same mailbox.
# Both log in over STLS. Medians of CORVIDAN_BENCH_REPEAT runs (default 5).
# First, receive_hostile_1mb_ms: hostile 1 MB messages through the parse.
set -eu
src="$CORVIDAN_SOURCE_DIR"
build="$CORVIDAN_BENCH_BUILD"
count=${CORVIDAN_BENCH_MESSAGES:-1000}
repeat=${CORVIDAN_BENCH_REPEAT:-5}

cmake --build "$build" --target corvidan-receive bench_receive_hostile >&2
# Hostile 1 MB messages: parse and attachment folder only, no server.
"$build/bench/bench_receive_hostile"
command -v mpop >/dev/null || { echo "mpop is not installed" >&2; exit 1; }

work=$(mktemp -d)
chmod 0755 "$work" # the mail server runs as nobody and reads below it
cleanup() {
    sh "$src/tests/servers/dovecot-stop.sh" "$work/server" >&2 || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
sh "$src/tests/servers/dovecot-start.sh" "$work/server" >&2
. "$work/server/pop3.env"
python3 "$src/bench/receive/make-messages.py" "$work/messages" "$count"

# Same mailbox for every run: the generated messages, delivered afresh under new
# maildir names (the server remembers names it has seen).
delivery=0
reset_mailbox() {
    delivery=$((delivery + 1))
    rm -f "$MAILDIR"/new/* "$MAILDIR"/cur/*
    python3 - "$work/messages" "$MAILDIR" "$delivery" <<'PY'
import os, shutil, sys
src, maildir, run = sys.argv[1:]
for name in sorted(os.listdir(src)):
    dst = os.path.join(maildir, "new", "%s.R%s" % (name, run))
    shutil.copyfile(os.path.join(src, name), dst)
    os.chmod(dst, 0o644)
PY
}

now() { date +%s.%N; }

# Each run writes into folders of its own, and no run's files are deleted until
# every run is timed: on ext4, creating files soon after many were deleted costs a
# scan past every recently freed inode (the kernel's recently_deleted check), which
# would charge one run for the clean-up of the one before, whichever program it is.
run_no=0
next_folder() {
    run_no=$((run_no + 1))
    folder="$work/run-$run_no"
}

# A fresh AppDir whose settings point at the benchmark's server, and the mailbox refilled.
fresh_app() {
    next_folder
    app="$folder/app"
    mkdir -p "$app/★MAilData" "$app/添付フォルダ" "$app/新着画像"
    printf 'SMTP=\r\nPOP3=%s:%s\r\nMAIL=\r\nAPOP=0\r\n' "$HOST" "$POP3_PORT" > "$app/zorbet.ini"
    printf '[EXEINI]\r\nNAME=%s\r\nNAME2=%s\r\n' "$POP3_USER" "$POP3_PASSWORD" > "$app/★MAilData/iniIdPass.ini"
    reset_mailbox
}

run_corvidan() {
    fresh_app
    sync
    start=$(now)
    result=$("$build/app/corvidan-receive" --ca-file "$CA_FILE" "$app")
    end=$(now)
    if [ "$result" != "${count}の新着メール有り。" ] || [ -n "$(find "$MAILDIR/new" "$MAILDIR/cur" -type f)" ]; then
        echo "corvidan-receive did not receive everything: $result" >&2
        exit 1
    fi
    echo "$end - $start" | bc
}

run_mpop() {
    next_folder
    out="$folder/mpop-out"
    rm -f "$work/uidls"
    mkdir -p "$out/new" "$out/cur" "$out/tmp"
    cat > "$work/mpoprc" <<RC
account bench
host $HOST
port $POP3_PORT
tls on
tls_starttls on
tls_trust_file $CA_FILE
auth user
user $POP3_USER
password $POP3_PASSWORD
delivery maildir $out
keep off
uidls_file $work/uidls
RC
    chmod 0600 "$work/mpoprc"
    reset_mailbox
    sync
    start=$(now)
    mpop -C "$work/mpoprc" -q bench >&2
    end=$(now)
    if [ "$(ls "$out/new" | wc -l)" -ne "$count" ] || [ -n "$(find "$MAILDIR/new" "$MAILDIR/cur" -type f)" ]; then
        echo "mpop did not receive everything" >&2
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
    run_mpop >> "$work/theirs"
    i=$((i + 1))
done
# One 50 MB message (a base64 attachment): the receive's peak resident memory
# against the message's size.
big_message() {
    python3 - "$1" <<'PY'
import base64, os, sys
data = base64.encodebytes(os.urandom(37 * 1024 * 1024)).replace(b"\n", b"\r\n")
head = (b"From: sender@example.jp\r\nTo: taro@example.jp\r\nSubject: big\r\n"
        b"Date: Tue, 08 Dec 2026 09:00:00 +0900\r\nMessage-ID: <big@example.jp>\r\nMIME-Version: 1.0\r\n"
        b'Content-Type: multipart/mixed; boundary="b"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nbig\r\n'
        b'--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename="big.bin"\r\n'
        b"Content-Transfer-Encoding: base64\r\n\r\n")
with open(sys.argv[1], "wb") as f:
    f.write(head + data + b"--b--\r\n")
PY
}
peak_rss_kib() {
    python3 - "$@" <<'PY'
import resource, subprocess, sys
done = subprocess.run(sys.argv[1:], stdout=subprocess.PIPE)
if done.returncode != 0:
    sys.exit("corvidan-receive failed on the big message")
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
PY
}
rm -rf "$work/messages"
mkdir -p "$work/messages"
big_message "$work/messages/big.eml"
big_size=$(stat -c %s "$work/messages/big.eml")
fresh_app
peak_kib=$(peak_rss_kib "$build/app/corvidan-receive" --ca-file "$CA_FILE" "$app")

ours=$(median < "$work/ours")
theirs=$(median < "$work/theirs")
echo "receive_1000_s $(printf '%.3f' "$ours") s"
echo "receive_mpop_s $(printf '%.3f' "$theirs") s"
echo "receive_vs_mpop $(echo "scale=3; $ours / $theirs" | bc) x"
echo "receive_big_message_mb $(echo "scale=1; $big_size / 1048576" | bc) MB"
echo "receive_big_peak_rss_mb $(echo "scale=1; $peak_kib / 1024" | bc) MB"
echo "receive_big_peak_rss_ratio $(echo "scale=2; $peak_kib * 1024 / $big_size" | bc) x"
