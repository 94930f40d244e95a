#!/bin/sh
# Stops the private Dovecot started by dovecot-start.sh STATE_DIR.
set -u
STATE=${1:?usage: dovecot-stop.sh STATE_DIR}
CONF="$STATE/dovecot.conf"
[ -f "$CONF" ] || exit 0
dovecot -c "$CONF" stop >/dev/null 2>&1 || true
# Wait for the master to go so the next start finds its ports free.
i=0
while [ -f "$STATE/run/master.pid" ] && kill -0 "$(cat "$STATE/run/master.pid")" 2>/dev/null; do
    i=$((i + 1))
    [ $i -gt 50 ] && break
    sleep 0.1
done
rm -f "$STATE/pop3.env"
exit 0
