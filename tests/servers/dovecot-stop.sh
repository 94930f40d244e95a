#!/bin/sh
# Stops the private Dovecot started by dovecot-start.sh STATE_DIR and removes
# its folder under /tmp.
set -u
STATE=${1:?usage: dovecot-stop.sh STATE_DIR}
CONF="$STATE/dovecot.conf"
RUNTIME=$(cat "$STATE/runtime" 2>/dev/null || true)
[ -f "$CONF" ] && dovecot -c "$CONF" stop >/dev/null 2>&1
# Wait for the master to go so the next start finds its ports free.
i=0
while [ -n "$RUNTIME" ] && [ -f "$RUNTIME/run/master.pid" ] &&
    kill -0 "$(cat "$RUNTIME/run/master.pid")" 2>/dev/null; do
    i=$((i + 1))
    [ $i -gt 50 ] && break
    sleep 0.1
done
# Only a folder dovecot-start.sh made.
case $RUNTIME in
    */corvidan-dovecot.*) rm -rf -- "$RUNTIME" ;;
esac
rm -f "$STATE/pop3.env" "$STATE/runtime"
exit 0
