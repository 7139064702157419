#!/usr/bin/env python3
"""Starts and stops Squid and tinyproxy as forward proxies on free loopback
ports, each in the foreground of a process of its own with a configuration
written into DIR (no cache; logs and pid in DIR; clients 127.0.0.1 and ::1
only; CONNECT to any port). Nothing of the system's configuration is used.

  forward_proxy_fixture.py start DIR   DIR/ports lists "name port" lines
  forward_proxy_fixture.py stop DIR

A proxy that is not installed, or does not answer within a few seconds,
fails the start with a line that says which.
"""
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import time

import fixture_cli

READY_SECONDS = 15


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def squid_config(base, port, user):
    return "\n".join([
        "http_port 127.0.0.1:%d" % port,
        "cache deny all", "cache_mem 8 MB", "cache_dir null /tmp",
        "access_log stdio:%s/squid-access.log" % base,
        "cache_log %s/squid-cache.log" % base, "cache_store_log none",
        "pid_filename %s/squid.pid" % base,
        "coredump_dir %s" % base,
        "cache_effective_user %s" % user,
        "shutdown_lifetime 0 seconds", "pinger_enable off",
        "acl local src 127.0.0.1/32 ::1",
        "http_access allow local",
        "http_access deny all",
        # Loopback endpoints: nothing is forwarded anywhere else.
        "always_direct allow all",
    ]) + "\n"


def tinyproxy_config(base, port, user, group):
    return "\n".join([
        "User %s" % user, "Group %s" % group,
        "Port %d" % port, "Listen 127.0.0.1",
        "Timeout 30", "MaxClients 20",
        "LogFile \"%s/tinyproxy.log\"" % base, "LogLevel Info",
        "PidFile \"%s/tinyproxy.pid\"" % base,
        "Allow 127.0.0.1", "Allow ::1",
        # No ConnectPort line: CONNECT is allowed to every port.
    ]) + "\n"


def wait_until_answering(name, port, process):
    """A proxy is ready when it answers a request for its own port with an
    HTTP status line."""
    deadline = time.monotonic() + READY_SECONDS
    while time.monotonic() < deadline:
        if process.poll() is not None:
            sys.exit("%s exited at start (status %s); see its log in the fixture folder"
                     % (name, process.returncode))
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1) as s:
                s.sendall(b"OPTIONS * HTTP/1.0\r\n\r\n")
                if fixture_cli.read_head(s).startswith(b"HTTP/"):
                    return
        except OSError:
            pass
        time.sleep(0.2)
    process.kill()
    sys.exit("%s did not answer on port %d within %d s" % (name, port, READY_SECONDS))


def start(base):
    base = os.path.abspath(base)
    for binary in ("squid", "tinyproxy"):
        if shutil.which(binary) is None and not os.path.exists("/usr/sbin/" + binary):
            sys.exit("%s is not installed (Debian package %s; scripts/setup installs it)"
                     % (binary, binary))
    # Run as root, both proxies drop to an unprivileged user, who must be
    # able to write its logs and pid here.
    user = "proxy" if os.getuid() == 0 else pwd.getpwuid(os.getuid()).pw_name
    if os.getuid() == 0:
        entry = pwd.getpwnam(user)
        os.chmod(base, 0o777)
        os.chown(base, entry.pw_uid, entry.pw_gid)
    group = subprocess.run(["id", "-gn", user], capture_output=True, text=True).stdout.strip()
    ports = {"squid": free_port(), "tinyproxy": free_port()}
    with open(os.path.join(base, "squid.conf"), "w") as f:
        f.write(squid_config(base, ports["squid"], user))
    with open(os.path.join(base, "tinyproxy.conf"), "w") as f:
        f.write(tinyproxy_config(base, ports["tinyproxy"], user, group))
    commands = {
        "squid": [shutil.which("squid") or "/usr/sbin/squid", "-N", "-f",
                  os.path.join(base, "squid.conf")],
        "tinyproxy": [shutil.which("tinyproxy") or "/usr/bin/tinyproxy", "-d", "-c",
                      os.path.join(base, "tinyproxy.conf")],
    }
    for name, command in commands.items():
        with open(os.path.join(base, name + "-output.log"), "w") as out:
            process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=subprocess.STDOUT, start_new_session=True)
        # Our own record of the process, whatever the proxy writes itself.
        with open(os.path.join(base, name + ".process"), "w") as f:
            f.write(str(process.pid))
        wait_until_answering(name, ports[name], process)
    with open(os.path.join(base, "ports"), "w") as f:
        for name, port in ports.items():
            f.write("%s %d\n" % (name, port))


def stop(base):
    """Each proxy leads a process group of its own (helpers included): the
    whole group goes at once, nothing in it holds state worth a shutdown."""
    for name in ("squid", "tinyproxy"):
        try:
            with open(os.path.join(base, name + ".process")) as f:
                os.killpg(int(f.read().strip()), signal.SIGKILL)
        except (OSError, ValueError):
            pass


if __name__ == "__main__":
    fixture_cli.run(start, stop, __doc__)
