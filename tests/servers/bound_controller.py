"""aiosmtpd's Controller on a loopback socket bound here to port 0 and kept.

Given a port number, aiosmtpd binds it itself; a port probed free and released
first can be taken by another test's server in between. Here the socket is
bound before anyone learns its number, so no other server can have it.
"""

import socket

from aiosmtpd.controller import Controller


class BoundController(Controller):
    def __init__(self, handler, **kwargs):
        self._socket = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._socket.bind(("127.0.0.1", 0))
        kwargs.pop("hostname", None)
        super().__init__(handler, hostname="127.0.0.1", port=self._socket.getsockname()[1], **kwargs)

    def _create_server(self):
        return self.loop.create_server(self._factory_invoker, sock=self._socket, ssl=self.ssl_context)
