#!/usr/bin/env python3
"""A TCP relay on a loopback port that adds a one-way delay, as a long link would.

    delay-relay.py LISTEN_PORT_FILE TARGET_PORT COUNT_FILE

Listens on 127.0.0.1 on a port the system picks (written to LISTEN_PORT_FILE) and forwards every
connection to 127.0.0.1:TARGET_PORT. The delay in milliseconds is read from the file named by
DELAY_FILE in the environment (else 0) for each new connection, so one relay serves every case.
Each chunk is held for the delay in each direction, in order, with no cap on the bandwidth; a new
connection waits the delay before it reaches the target and again before its first answer comes
back, as a handshake over the link would. The number of connections accepted so far is rewritten
to COUNT_FILE after each one. Ends on SIGTERM.
"""
import asyncio
import os
import signal
import sys


def current_delay():
    path = os.environ.get("DELAY_FILE")
    if not path:
        return 0.0
    try:
        with open(path) as f:
            return float(f.read().strip() or 0) / 1000.0
    except OSError:
        return 0.0


async def pump(reader, writer, delay):
    """Forwards what `reader` gives to `writer`, each chunk `delay` seconds after it came."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def receive():
        while True:
            data = await reader.read(1 << 16)
            await queue.put((loop.time() + delay, data))
            if not data:
                return

    async def send():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()

    receiving = asyncio.ensure_future(receive())
    try:
        await send()
    finally:
        receiving.cancel()


async def main():
    port_file, target_port, count_file = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    count = 0

    async def serve(client_reader, client_writer):
        nonlocal count
        count += 1
        with open(count_file + ".tmp", "w") as f:
            f.write(f"{count}\n")
        os.replace(count_file + ".tmp", count_file)
        delay = current_delay()
        try:
            await asyncio.sleep(delay)
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.sleep(delay)
        try:
            await asyncio.gather(pump(client_reader, server_writer, delay),
                                 pump(server_reader, client_writer, delay))
        except (ConnectionError, OSError):
            pass
        finally:
            for w in (client_writer, server_writer):
                try:
                    w.close()
                except OSError:
                    pass

    server = await asyncio.start_server(serve, "127.0.0.1", 0, limit=1 << 20)
    with open(port_file + ".tmp", "w") as f:
        f.write(f"{server.sockets[0].getsockname()[1]}\n")
    os.replace(port_file + ".tmp", port_file)
    with open(count_file, "w") as f:
        f.write("0\n")
    stop = asyncio.Event()
    asyncio.get_running_loop().add_signal_handler(signal.SIGTERM, stop.set)
    async with server:
        await stop.wait()


if __name__ == "__main__":
    asyncio.run(main())
