"""The command line shared by the background-peer fixtures:

  FIXTURE start DIR ARGS...   starts the peer, its files in DIR
  FIXTURE stop DIR            stops it
"""
import os
import signal
import sys


def stop_pids(base, *pid_files):
    """Stops the processes whose ids the peer wrote to `pid_files` in `base`;
    one that is gone already, or a file never written, is no failure."""
    for pid_file in pid_files:
        try:
            with open(os.path.join(base, pid_file)) as f:
                os.kill(int(f.read().strip()), signal.SIGTERM)
        except (OSError, ValueError):
            pass


def read_head(sock):
    """Reads from `sock` until a blank line ends an HTTP head (or the peer
    closes); returns what it read."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(4096)
        if not chunk:
            break
        data += chunk
    return data


def run(start, stop, usage):
    if len(sys.argv) < 3 or sys.argv[1] not in ("start", "stop"):
        sys.exit(usage)
    os.makedirs(sys.argv[2], exist_ok=True)
    if sys.argv[1] == "start":
        start(sys.argv[2], *sys.argv[3:])
    else:
        stop(sys.argv[2])
