"""SMTP server for the tests: aiosmtpd on free loopback ports.

Usage: /usr/bin/python3 smtp_server.py STATE_DIR

Listeners (all on 127.0.0.1):
  SMTP_PORT        STARTTLS offered; AUTH (PLAIN, LOGIN) only after STARTTLS,
                   and required before MAIL.
  SMTPS_PORT       TLS from the first byte; AUTH required.
  SMTP_PLAIN_PORT  no TLS, no AUTH.
  SMTP_PLAIN_AUTH_PORT  no TLS; AUTH offered in clear and required.
  SMTPS_WRONG_NAME_PORT TLS from the first byte with a certificate issued
                   for wrong.example.invalid (WRONG_NAME_CERT); no AUTH.

Every accepted message is kept byte for byte (envelope.original_content) in
STATE_DIR/smtp-spool/NNNNNN.eml with NNNNNN.json beside it (sender, recipients,
connection number, TLS, authenticated user). A message with a recipient whose
local part is the POP3 user is also delivered into the Dovecot maildir
(tmp/ then renamed into new/), as a real MTA delivers to its local mailbox.

Refusals on demand, for fault tests:
  MAIL FROM starting with "reject-from@"   553
  RCPT TO starting with "reject-rcpt@"     550
  RCPT TO starting with "tempfail-rcpt@"   450
  data containing "X-Corvidan-Reject-Data" 554

Writes STATE_DIR/smtp.env once listening; stops on SIGTERM.
"""

import itertools
import json
import os
import signal
import ssl
import sys
import threading
import time

from aiosmtpd.smtp import AuthResult, LoginPassword

from bound_controller import BoundController

REJECT_DATA_MARKER = b"X-Corvidan-Reject-Data"


def read_env(path):
    values = {}
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                line = line.strip()
                if line and not line.startswith("#") and "=" in line:
                    key, value = line.split("=", 1)
                    values[key] = value
    return values


def write_atomically(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    os.rename(tmp, path)


class Handler:
    def __init__(self, spool_dir, maildir, local_user):
        self.spool_dir = spool_dir
        self.maildir = maildir
        self.local_user = local_user.lower()
        self.lock = threading.Lock()
        self.messages = itertools.count(1)
        self.connections = itertools.count(1)

    def connection_number(self, server):
        # The SMTP protocol object lives as long as the TCP connection; the
        # session object is replaced after STARTTLS.
        if not hasattr(server, "corvidan_connection"):
            with self.lock:
                server.corvidan_connection = next(self.connections)
        return server.corvidan_connection

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        self.connection_number(server)
        session.host_name = hostname
        return responses

    async def handle_MAIL(self, server, session, envelope, address, options):
        if address.lower().startswith("reject-from@"):
            return "553 5.7.1 <%s>: Sender address rejected: not owned by user" % address
        envelope.mail_from = address
        envelope.mail_options.extend(options)
        return "250 2.1.0 Ok"

    async def handle_RCPT(self, server, session, envelope, address, options):
        lowered = address.lower()
        if lowered.startswith("reject-rcpt@"):
            return "550 5.1.1 <%s>: Recipient address rejected: User unknown" % address
        if lowered.startswith("tempfail-rcpt@"):
            return "450 4.2.0 <%s>: Recipient address rejected: Greylisted" % address
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(options)
        return "250 2.1.5 Ok"

    async def handle_DATA(self, server, session, envelope):
        content = envelope.original_content
        if REJECT_DATA_MARKER in content:
            return "554 5.7.1 Message rejected: content marker found"
        with self.lock:
            number = next(self.messages)
        name = "%06d" % number
        tls = session.ssl is not None or server.transport.get_extra_info("ssl_object") is not None
        meta = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "connection": self.connection_number(server),
            "tls": tls,
            "auth_user": session.auth_data if session.authenticated else None,
            "ehlo": session.host_name,
            "size": len(content),
        }
        base = os.path.join(self.spool_dir, name)
        write_atomically(base + ".json", json.dumps(meta, ensure_ascii=False).encode("utf-8"))
        write_atomically(base + ".eml", content)
        if self.maildir and any(r.split("@")[0].lower() == self.local_user for r in envelope.rcpt_tos):
            self.deliver(name, content)
        return "250 2.0.0 Ok: queued as %s" % name

    def deliver(self, name, content):
        unique = "%d.M%dP%dQ%s.corvidan-smtp" % (int(time.time()), time.time_ns() % 1000000, os.getpid(), name)
        tmp = os.path.join(self.maildir, "tmp", unique)
        os.makedirs(os.path.dirname(tmp), exist_ok=True)
        with open(tmp, "wb") as f:
            f.write(content)
            f.flush()
            os.fsync(f.fileno())
        new_dir = os.path.join(self.maildir, "new")
        os.makedirs(new_dir, exist_ok=True)
        owner = os.stat(new_dir)
        try:
            os.chown(tmp, owner.st_uid, owner.st_gid)
        except PermissionError:
            pass
        os.chmod(tmp, 0o644)
        os.rename(tmp, os.path.join(new_dir, unique))


def make_authenticator(user, password):
    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login.decode("utf-8", "replace") == user
              and auth_data.password.decode("utf-8", "replace") == password)
        return AuthResult(success=ok, handled=False, auth_data=user if ok else None)
    return authenticate


def main():
    state_dir = os.path.abspath(sys.argv[1])
    pop3 = read_env(os.path.join(state_dir, "pop3.env"))
    user = pop3.get("POP3_USER", "corvidan")
    password = pop3.get("POP3_PASSWORD", "secret")
    maildir = pop3.get("MAILDIR", "")
    spool_dir = os.path.join(state_dir, "smtp-spool")
    os.makedirs(spool_dir, exist_ok=True)
    cert = os.path.join(state_dir, "cert.pem")
    key = os.path.join(state_dir, "key.pem")

    tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    tls.load_cert_chain(cert, key)
    handler = Handler(spool_dir, maildir, user)
    authenticator = make_authenticator(user, password)
    common = dict(hostname="127.0.0.1", decode_data=False, server_hostname="corvidan-test-smtp",
                  enable_SMTPUTF8=True)

    wrong_name_cert = os.path.join(state_dir, "wrong-name-cert.pem")
    wrong_name_tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    wrong_name_tls.load_cert_chain(wrong_name_cert, key)

    settings = {
        "SMTP_PORT": dict(tls_context=tls, authenticator=authenticator,
                          auth_required=True, auth_require_tls=True, **common),
        # TLS is already there from the first byte, so AUTH needs no STARTTLS.
        "SMTPS_PORT": dict(ssl_context=tls, authenticator=authenticator,
                           auth_required=True, auth_require_tls=False, **common),
        "SMTP_PLAIN_PORT": dict(common),
        # What an old server without TLS looks like: it takes a password in clear.
        "SMTP_PLAIN_AUTH_PORT": dict(authenticator=authenticator, auth_required=True,
                                     auth_require_tls=False, **common),
        "SMTPS_WRONG_NAME_PORT": dict(ssl_context=wrong_name_tls, **common),
    }
    ports = {}
    controllers = []
    for name, kwargs in settings.items():
        controller = BoundController(handler, **kwargs)
        controller.start()
        ports[name] = controller.port
        controllers.append(controller)

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())

    lines = ["%s=%d" % item for item in ports.items()]
    lines += [
        "SMTP_HOST=127.0.0.1",
        "SMTP_USER=%s" % user,
        "SMTP_PASSWORD=%s" % password,
        "SMTP_LOCAL_USER=%s" % user,
        "SPOOL_DIR=%s" % spool_dir,
        "CA_FILE=%s" % cert,
        "WRONG_NAME_CERT=%s" % wrong_name_cert,
        "MAILDIR=%s" % maildir,
        "SMTP_PID=%d" % os.getpid(),
    ]
    write_atomically(os.path.join(state_dir, "smtp.env"), ("\n".join(lines) + "\n").encode("utf-8"))

    while not stop.wait(1.0):
        pass
    for controller in controllers:
        controller.stop()


if __name__ == "__main__":
    main()
