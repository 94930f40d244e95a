#!/bin/sh
# Starts a private Dovecot POP3 server on free ports of 127.0.0.1.
# Usage: dovecot-start.sh STATE_DIR
# Leaves STATE_DIR/pop3.env (KEY=VALUE lines) for tests and benchmarks, and a
# self-signed certificate (cert.pem, key.pem) that the SMTP server reuses.
set -eu

STATE=${1:?usage: dovecot-start.sh STATE_DIR}
mkdir -p "$STATE"
STATE=$(cd "$STATE" && pwd)
CONF="$STATE/dovecot.conf"

# A previous run that was never stopped must not keep the ports or the pid file.
sh "$(dirname "$0")/dovecot-stop.sh" "$STATE" >/dev/null 2>&1 || true

# Dovecot's own processes (auth as dovecot, mail as nobody) cannot enter a
# private folder such as a Debian home (mode 0700), so what they read and write
# lives in a folder of its own under /tmp, named in STATE/runtime and removed by
# dovecot-stop.sh.
RUNTIME=$(mktemp -d "${TMPDIR:-/tmp}/corvidan-dovecot.XXXXXX")
chmod 0755 "$RUNTIME"
echo "$RUNTIME" >"$STATE/runtime"
mkdir -p "$RUNTIME/run" "$RUNTIME/state" "$RUNTIME/home" "$RUNTIME/maildir/new" "$RUNTIME/maildir/cur" "$RUNTIME/maildir/tmp"

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}
POP3_PORT=$(free_port)
POP3S_PORT=$(free_port)
while [ "$POP3S_PORT" = "$POP3_PORT" ]; do POP3S_PORT=$(free_port); done

if [ ! -s "$STATE/cert.pem" ] || [ ! -s "$STATE/key.pem" ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -days 365 \
        -keyout "$STATE/key.pem" -out "$STATE/cert.pem" \
        -subj /CN=127.0.0.1 -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" >/dev/null 2>&1
fi

POP3_USER=corvidan
POP3_PASSWORD='pass-Word_42'
printf '%s:{PLAIN}%s\n' "$POP3_USER" "$POP3_PASSWORD" > "$RUNTIME/passwd"
chmod 0644 "$RUNTIME/passwd"

# Mail is read and deleted by the unprivileged mail user; tests (root) write into it.
chmod 0777 "$RUNTIME/maildir" "$RUNTIME/maildir/new" "$RUNTIME/maildir/cur" "$RUNTIME/maildir/tmp" "$RUNTIME/home"

cat > "$CONF" <<CONF
protocols = pop3
listen = 127.0.0.1
base_dir = $RUNTIME/run
state_dir = $RUNTIME/state
log_path = $RUNTIME/dovecot.log
ssl = yes
ssl_cert = <$STATE/cert.pem
ssl_key = <$STATE/key.pem
disable_plaintext_auth = no
auth_mechanisms = plain login apop
auth_failure_delay = 0
mail_location = maildir:$RUNTIME/maildir
mail_max_userip_connections = 100
pop3_uidl_format = %08Xu%08Xv
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $RUNTIME/passwd
}
userdb {
  driver = static
  args = uid=nobody gid=nogroup home=$RUNTIME/home
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $POP3_PORT
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = $POP3S_PORT
    ssl = yes
  }
}
# No per-address auth penalty: the wrong passwords tests try on purpose must not
# delay every later login (it grows to 15 s).
service anvil {
  chroot =
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
CONF

# Detached from our output: ctest waits until every holder of its pipe is gone.
# The ports were free when probed, but another server starting at the same
# time may take one first: then the start fails at once and tries new ports.
tries=0
until dovecot -c "$CONF" </dev/null >"$STATE/dovecot-start.log" 2>&1; do
    tries=$((tries + 1))
    if [ $tries -ge 5 ] || ! grep -q "Address already in use" "$STATE/dovecot-start.log"; then
        echo "dovecot did not start; see $STATE/dovecot-start.log" >&2
        cat "$STATE/dovecot-start.log" >&2
        exit 1
    fi
    new_pop3=$(free_port)
    new_pop3s=$(free_port)
    while [ "$new_pop3s" = "$new_pop3" ]; do new_pop3s=$(free_port); done
    sed -i -e "s/^    port = $POP3_PORT\$/    port = pop3-port/" \
        -e "s/^    port = $POP3S_PORT\$/    port = pop3s-port/" "$CONF"
    sed -i -e "s/^    port = pop3-port\$/    port = $new_pop3/" \
        -e "s/^    port = pop3s-port\$/    port = $new_pop3s/" "$CONF"
    POP3_PORT=$new_pop3
    POP3S_PORT=$new_pop3s
done

# Ready when the plain port greets.
i=0
until python3 - "$POP3_PORT" <<'PY' 2>/dev/null
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1)
assert s.recv(100).startswith(b"+OK")
s.sendall(b"QUIT\r\n")
PY
do
    i=$((i + 1))
    if [ $i -gt 100 ]; then
        echo "dovecot did not start; see $RUNTIME/dovecot.log" >&2
        cat "$RUNTIME/dovecot.log" >&2 || true
        exit 1
    fi
    sleep 0.1
done

cat > "$STATE/pop3.env" <<ENV
HOST=127.0.0.1
POP3_PORT=$POP3_PORT
POP3S_PORT=$POP3S_PORT
POP3_USER=$POP3_USER
POP3_PASSWORD=$POP3_PASSWORD
MAILDIR=$RUNTIME/maildir
CA_FILE=$STATE/cert.pem
KEY_FILE=$STATE/key.pem
DOVECOT_CONF=$CONF
DOVECOT_LOG=$RUNTIME/dovecot.log
ENV
echo "dovecot POP3 on 127.0.0.1:$POP3_PORT (STLS) and :$POP3S_PORT (POP3S)"
