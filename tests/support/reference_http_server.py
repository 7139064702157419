#!/usr/bin/env python3
"""Python's own http.server as a reference peer that nobody here wrote.

  reference_http_server.py start DIR   serve DIR/www on 127.0.0.1, a free port,
                                       in the background; DIR/port holds it
  reference_http_server.py stop DIR    stop it again

The server stops by itself after ten minutes in any case.
"""
import http.server
import os
import sys
import threading

import fixture_cli


def start(base):
    www = os.path.join(base, "www")
    os.makedirs(os.path.join(www, "sub"), exist_ok=True)
    with open(os.path.join(www, "hello.txt"), "w") as f:
        f.write("hello from http.server\n")
    with open(os.path.join(www, "sub", "index.html"), "w") as f:
        f.write("<p>sub index</p>\n")
    read_end, write_end = os.pipe()
    if os.fork() > 0:
        os.close(write_end)
        with os.fdopen(read_end) as ready:
            port = ready.read().strip()
        if not port:
            sys.exit("server did not start")
        return
    os.close(read_end)
    os.setsid()
    if os.fork() > 0:
        os._exit(0)
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    handler = lambda *a, **k: http.server.SimpleHTTPRequestHandler(*a, directory=www, **k)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    port = server.server_address[1]
    with open(os.path.join(base, "port"), "w") as f:
        f.write(str(port))
    with open(os.path.join(base, "pid"), "w") as f:
        f.write(str(os.getpid()))
    os.write(write_end, str(port).encode())
    os.close(write_end)
    threading.Timer(600, server.shutdown).start()
    server.serve_forever()
    os._exit(0)


def stop(base):
    fixture_cli.stop_pids(base, "pid")


if __name__ == "__main__":
    fixture_cli.run(start, stop, __doc__)
