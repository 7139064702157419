#!/usr/bin/env python3
"""Starts and stops nginx and Apache as reverse proxies in front of the
running reference endpoint, on free loopback ports, with configurations of
their own (nothing of the system's is used or changed).

  proxy_fixture.py start DIR ENDPOINT_DIR   DIR/ports lists "name port" lines
  proxy_fixture.py stop DIR

Fronts, as deployments put them:
  plain     passes the endpoint's answer on as it comes (Content-Length)
  chunked   (nginx) rewrites the answer on its way, so that it goes out
            chunked; Apache gives a length to any answer it holds whole, as
            the endpoint's small answers always are, so it has no such front
  redirect  answers the verification path itself with 302 to another path,
            which it passes on to the endpoint
A front that does not behave so (no chunked answer, no redirect) fails the
start, so that the tests never pass against a front that tests nothing.
"""
import base64
import os
import socket
import subprocess
import sys
import time

import fixture_cli

VERIFY_PATH = "/interface/newauth/index.php"
# The first 24 characters of the module's key text are the Triple DES key.
KEY_TEXT = b"5e0c19a7d2f44b8e9a63c1f07b2d58e6"[:24]


def verification_query(query):
    """ "c=" and the query as the module enciphers it (OpenSSL's command as
    the cipher), so that a front can be checked with a real verification."""
    plain = query.encode()
    plain = b"@" * (-len(plain) % 8) + plain
    cipher = subprocess.run(["openssl", "enc", "-des-ede3", "-nopad", "-K", KEY_TEXT.hex()],
                            input=plain, capture_output=True, check=True).stdout
    text = base64.b64encode(cipher).decode()
    return "c=" + text.replace("+", "%2B").replace("/", "%2F").replace("=", "%3D")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def nginx_config(base, endpoint, ports):
    upstream = "http://127.0.0.1:%d" % endpoint
    return """
daemon on;
user root;
pid {base}/nginx.pid;
error_log {base}/nginx-error.log;
events {{ worker_connections 256; }}
http {{
  access_log off;
  client_body_temp_path {base}/nginx-tmp/body;
  proxy_temp_path {base}/nginx-tmp/proxy;
  fastcgi_temp_path {base}/nginx-tmp/fastcgi;
  uwsgi_temp_path {base}/nginx-tmp/uwsgi;
  scgi_temp_path {base}/nginx-tmp/scgi;
  server {{ listen 127.0.0.1:{plain}; location / {{ proxy_pass {up}; }} }}
  server {{
    listen 127.0.0.1:{chunked};
    location / {{
      proxy_pass {up};
      sub_filter_types *;
      sub_filter_once off;
      sub_filter "never-in-an-answer" "never-in-an-answer";
    }}
  }}
  server {{
    listen 127.0.0.1:{redirect};
    absolute_redirect off;
    location = {path} {{ return 302 /moved{path}; }}
    location /moved/ {{ proxy_pass {up}/; }}
  }}
}}
""".format(base=base, up=upstream, path=VERIFY_PATH, **ports)


def apache_config(base, endpoint, ports):
    upstream = "http://127.0.0.1:%d/" % endpoint
    modules = ["mpm_event", "authz_core", "proxy", "proxy_http", "alias"]
    lines = ["LoadModule %s_module /usr/lib/apache2/modules/mod_%s.so" % (m, m) for m in modules]
    lines += [
        "ServerRoot %s" % base, "ServerName 127.0.0.1", "PidFile %s/apache.pid" % base,
        "ErrorLog %s/apache-error.log" % base, "User www-data", "Group www-data",
        "Mutex file:%s" % base,
    ]
    for port in ports.values():
        lines.append("Listen 127.0.0.1:%d" % port)
    lines += [
        "<VirtualHost 127.0.0.1:%d>" % ports["plain"], "  ProxyPass / %s" % upstream,
        "</VirtualHost>",
        "<VirtualHost 127.0.0.1:%d>" % ports["redirect"],
        "  RedirectMatch 302 ^(%s)$ /moved$1" % VERIFY_PATH,
        "  ProxyPass /moved/ %s" % upstream, "</VirtualHost>",
    ]
    return "\n".join(lines) + "\n"


def head_of(port, path):
    """The response head for `path` on a connection that may stay open (a
    server chunks only what it can frame on a kept connection)."""
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" % path).encode())
        data = fixture_cli.read_head(s)
    return data.split(b"\r\n\r\n", 1)[0].decode(errors="replace").lower()


def wait_until_serving(port):
    for _ in range(100):
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.1)
    sys.exit("a proxy did not start listening on port %d" % port)


def start(base, endpoint_dir):
    with open(os.path.join(endpoint_dir, "port")) as f:
        endpoint = int(f.read().strip())
    os.makedirs(os.path.join(base, "nginx-tmp"), exist_ok=True)
    fronts = {"nginx": {kind: free_port() for kind in ("plain", "chunked", "redirect")},
              "apache": {kind: free_port() for kind in ("plain", "redirect")}}
    with open(os.path.join(base, "nginx.conf"), "w") as f:
        f.write(nginx_config(base, endpoint, fronts["nginx"]))
    with open(os.path.join(base, "apache.conf"), "w") as f:
        f.write(apache_config(base, endpoint, fronts["apache"]))
    subprocess.run(["nginx", "-p", base, "-c", os.path.join(base, "nginx.conf")], check=True)
    subprocess.run(["apache2", "-f", os.path.join(base, "apache.conf"), "-k", "start"], check=True,
                   env=dict(os.environ, APACHE_RUN_DIR=base, APACHE_LOCK_DIR=base,
                            APACHE_LOG_DIR=base))
    for server, ports in fronts.items():
        for kind, port in ports.items():
            wait_until_serving(port)
            # A verification the endpoint answers with 200: servers chunk
            # only what they can frame on a connection they keep.
            head = head_of(port, VERIFY_PATH + "?" + verification_query("UserName=check&PassWord=x"))
            if kind == "chunked" and "transfer-encoding: chunked" not in head:
                sys.exit("%s's chunked front answered without chunking:\n%s" % (server, head))
            if kind == "redirect" and not head.startswith("http/1.1 302"):
                sys.exit("%s's redirect front did not redirect:\n%s" % (server, head))
    with open(os.path.join(base, "ports"), "w") as f:
        for server, ports in fronts.items():
            for kind, port in ports.items():
                f.write("%s-%s %d\n" % (server, kind, port))


def stop(base):
    fixture_cli.stop_pids(base, "nginx.pid", "apache.pid")


if __name__ == "__main__":
    fixture_cli.run(start, stop, __doc__)
