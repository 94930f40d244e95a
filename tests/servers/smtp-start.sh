#!/bin/sh
# Starts the test SMTP server (aiosmtpd) for STATE_DIR and waits until it
# listens. It uses the certificate the Dovecot fixture made there (one is made
# when it is missing) and the POP3 account from pop3.env.
set -eu
STATE_DIR=${1:?usage: smtp-start.sh STATE_DIR}
HERE=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$STATE_DIR"
STATE_DIR=$(cd "$STATE_DIR" && pwd)

sh "$HERE/smtp-stop.sh" "$STATE_DIR"
rm -f "$STATE_DIR/smtp.env"
rm -rf "$STATE_DIR/smtp-spool"

if [ ! -f "$STATE_DIR/cert.pem" ] || [ ! -f "$STATE_DIR/key.pem" ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -days 30 \
        -keyout "$STATE_DIR/key.pem" -out "$STATE_DIR/cert.pem" \
        -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1,DNS:localhost >/dev/null 2>&1
fi

# A certificate for a name no test connects to, from the same key: a server
# presenting it must be refused for its name, not for its issuer.
if [ ! -s "$STATE_DIR/wrong-name-cert.pem" ]; then
    openssl req -x509 -new -key "$STATE_DIR/key.pem" -days 30 \
        -out "$STATE_DIR/wrong-name-cert.pem" -subj /CN=wrong.example.invalid \
        -addext subjectAltName=DNS:wrong.example.invalid >/dev/null 2>&1
fi

# Debian's python: a pyenv python earlier on PATH does not see python3-aiosmtpd.
setsid /usr/bin/python3 "$HERE/smtp_server.py" "$STATE_DIR" \
    >"$STATE_DIR/smtp.log" 2>&1 </dev/null &
echo $! >"$STATE_DIR/smtp.pid"

i=0
while [ ! -f "$STATE_DIR/smtp.env" ]; do
    i=$((i + 1))
    if [ "$i" -gt 200 ] || ! kill -0 "$(cat "$STATE_DIR/smtp.pid")" 2>/dev/null; then
        echo "smtp-start: server did not come up" >&2
        cat "$STATE_DIR/smtp.log" >&2
        exit 1
    fi
    sleep 0.1
done
cat "$STATE_DIR/smtp.env"
