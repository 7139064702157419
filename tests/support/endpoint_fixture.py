#!/usr/bin/env python3
"""Starts and stops the reference verification endpoint for tests.

  endpoint_fixture.py start DIR ENDPOINT   write test accounts to DIR/accounts,
                                           serve them in the background; DIR/port
                                           holds the port, DIR/endpoint.log its log
  endpoint_fixture.py stop DIR
"""
import os
import subprocess
import sys

import fixture_cli

# The accounts the tests verify; passwords only ever go to standard input.
ACCOUNTS = [
    ("alice", "right-pw"),
    ("a&b=c", "p=&q"),
    ("J\u00fcrgen \u4e2d", "p\u00e4ssw\u00f6rd"),
]


def start(base, endpoint, *serve_options):
    accounts = os.path.join(base, "accounts")
    if os.path.exists(accounts):
        os.remove(accounts)
    for user, password in ACCOUNTS:
        subprocess.run([endpoint, "add-account", "--accounts", accounts, "--user", user,
                        "--iterations", "1000"], input=(password + "\n").encode(), check=True)
    log = open(os.path.join(base, "endpoint.log"), "w")
    server = subprocess.Popen([endpoint, "serve", "--accounts", accounts, "--port", "0"] + list(serve_options),
                              stdout=subprocess.PIPE, stderr=log, stdin=subprocess.DEVNULL,
                              start_new_session=True)
    first = server.stdout.readline().decode().strip()
    server.stdout.close()
    if not first.startswith("listening on "):
        server.kill()
        sys.exit("endpoint did not start: " + first)
    with open(os.path.join(base, "port"), "w") as f:
        f.write(first.rsplit(":", 1)[1])
    with open(os.path.join(base, "pid"), "w") as f:
        f.write(str(server.pid))


def stop(base):
    fixture_cli.stop_pids(base, "pid")


if __name__ == "__main__":
    fixture_cli.run(start, stop, __doc__)
