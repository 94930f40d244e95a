"""A plain SMTP sink for the send benchmark: aiosmtpd on a free loopback port,
no TLS, no AUTH. Every accepted message is kept byte for byte in SPOOL/NNNNNN.eml
with its recipients in NNNNNN.rcpt (no fsync: the server's disk work should not
hide the clients' costs). Writes STATE/sink.env once listening; stops on SIGTERM.

Usage: /usr/bin/python3 smtp_sink.py STATE
"""

import itertools
import os
import signal
import sys
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "servers"))
from bound_controller import BoundController  # noqa: E402


class Sink:
    def __init__(self, spool):
        self.spool = spool
        self.numbers = itertools.count(1)
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            name = "%06d" % next(self.numbers)
        base = os.path.join(self.spool, name)
        with open(base + ".rcpt", "w", encoding="utf-8") as f:
            f.write("\n".join(envelope.rcpt_tos) + "\n")
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content)
        return "250 2.0.0 Ok: queued as %s" % name


def main():
    state = os.path.abspath(sys.argv[1])
    spool = os.path.join(state, "spool")
    os.makedirs(spool, exist_ok=True)
    controller = BoundController(Sink(spool), decode_data=False)
    controller.start()
    port = controller.port
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    tmp = os.path.join(state, "sink.env.tmp")
    with open(tmp, "w") as f:
        f.write("SINK_PORT=%d\nSINK_SPOOL=%s\n" % (port, spool))
    os.rename(tmp, os.path.join(state, "sink.env"))
    while not stop.wait(1.0):
        pass
    controller.stop()


if __name__ == "__main__":
    main()
