#!/usr/bin/env python3
"""delay-proxy.py TARGET_PORT DELAY_MS PORT_FILE: a TCP proxy on 127.0.0.1 that
forwards every chunk to 127.0.0.1:TARGET_PORT DELAY_MS later, in both
directions, like a link with that one-way latency (this kernel has no netem).
Chunks keep their order; the delay is per chunk, not added up. Writes its
listening port into PORT_FILE."""
import asyncio
import sys


async def pump(reader, writer, delay):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                writer.close()
                return
            writer.write(data)
            await writer.drain()

    sender = asyncio.create_task(deliver())
    try:
        while True:
            data = await reader.read(256 * 1024)
            queue.put_nowait((loop.time() + delay, data))
            if not data:
                break
    except ConnectionError:
        queue.put_nowait((loop.time(), b""))
    try:
        await sender
    except ConnectionError:
        pass


async def main():
    target, delay, port_file = int(sys.argv[1]), int(sys.argv[2]) / 1000.0, sys.argv[3]

    async def handle(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, delay), pump(server_reader, client_writer, delay),
                             return_exceptions=True)

    server = await asyncio.start_server(handle, "127.0.0.1", 0)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.sockets[0].getsockname()[1]))
    import os
    os.rename(port_file + ".tmp", port_file)
    async with server:
        await server.serve_forever()


asyncio.run(main())
