"""The command line shared by the background-peer fixtures:

  FIXTURE start DIR ARGS...   starts the peer, its files in DIR
  FIXTURE stop DIR            stops it
"""
import os
import sys


def run(start, stop, usage):
    if len(sys.argv) < 3 or sys.argv[1] not in ("start", "stop"):
        sys.exit(usage)
    os.makedirs(sys.argv[2], exist_ok=True)
    if sys.argv[1] == "start":
        start(sys.argv[2], *sys.argv[3:])
    else:
        stop(sys.argv[2])
