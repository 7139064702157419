#!/usr/bin/env python3
"""TLS peers for the tests: a test certificate authority and server
certificates made now, and the reference endpoint serving each of them.

  tls_fixture.py start DIR ENDPOINT   make DIR/ca.pem and the certificates,
                                      start one endpoint per certificate;
                                      DIR/NAME.port and DIR/NAME.sha256 (the
                                      certificate's SHA-256, hexadecimal)
  tls_fixture.py stop DIR

NAME: valid (for 127.0.0.1 and localhost, signed by the CA), expired,
othername (for other.example only), selfsigned, redirect (valid, but
sending every verification on to plain http), moved (valid, but
sending every verification on to the relative "/moved", which answers
404), and midbody (valid, a peer
of this script that ends the TLS session with an alert in the middle of
its answer's body), aia (valid names, but signed by an intermediate
authority nobody sends, whose address in the certificate is a loopback
port that takes connections and never answers). DIR/ca.der is the
authority in DER; wildpartial.pem (f*.test.example) and cnonly.pem (no
subject alternative name, localhost as common name) are for the host
name checks, and so are the served cnonly and cnstar (no subject
alternative name, "*" as common name). The hostile peers of tls-peer (the program beside
ENDPOINT, with the valid certificate) add cutbyfin, whole, forged, stall,
keyupdate, keydrip, askcert, weakdh, tls10 and renegotiate (see
tests/support/tls_peer.cpp).
"""
import hashlib
import os
import signal
import socket
import ssl
import subprocess
import sys
import time

import endpoint_fixture
import fixture_cli


def openssl(*args):
    subprocess.run(["openssl"] + list(args), check=True, capture_output=True)


HOSTILE = ("cutbyfin", "whole", "forged", "stall", "keyupdate", "keydrip", "askcert", "weakdh", "tls10",
           "renegotiate")
SERVED = ("valid", "expired", "othername", "selfsigned", "redirect", "moved", "aia", "cnonly", "cnstar")


def start_blackhole(base):
    """A loopback port that completes connections and never reads or
    answers them, held open by a child process; returns the port."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    holder = subprocess.Popen([sys.executable, "-c", "import signal; signal.alarm(900); signal.pause()"],
                              pass_fds=[listener.fileno()], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    with open(os.path.join(base, "blackhole.pid"), "w") as f:
        f.write(str(holder.pid))
    port = listener.getsockname()[1]
    listener.close()
    return port


def make_aia_certificate(base, ca, ca_key, csr):
    """The server certificate of `csr` signed by an intermediate authority
    that only the blackhole's address names."""
    key, icsr, ipem = (os.path.join(base, "intermediate" + x) for x in (".key", ".csr", ".pem"))
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", icsr, "-subj", "/CN=unsent intermediate")
    ext = os.path.join(base, "intermediate.ext")
    with open(ext, "w") as f:
        f.write("basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n")
    openssl("x509", "-req", "-in", icsr, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial", "-out", ipem,
            "-days", "2", "-extfile", ext)
    ext = os.path.join(base, "aia.ext")
    with open(ext, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                "authorityInfoAccess=caIssuers;URI:http://127.0.0.1:%d/intermediate.cer\n" % start_blackhole(base))
    openssl("x509", "-req", "-in", csr, "-CA", ipem, "-CAkey", key, "-CAcreateserial",
            "-out", os.path.join(base, "aia.pem"), "-days", "2", "-extfile", ext)


def make_certificates(base):
    ca_key, ca = os.path.join(base, "ca.key"), os.path.join(base, "ca.pem")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca, "-days", "2",
            "-subj", "/CN=HvVerifySp test CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    key = os.path.join(base, "server.key")
    csr = os.path.join(base, "server.csr")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr, "-subj", "/CN=test server")
    for name, names, days in (("valid", "IP:127.0.0.1,DNS:localhost", "2"),
                              ("expired", "IP:127.0.0.1,DNS:localhost", "-1"),
                              ("othername", "DNS:other.example", "2")):
        ext = os.path.join(base, name + ".ext")
        with open(ext, "w") as f:
            f.write("subjectAltName=%s\nbasicConstraints=CA:FALSE\n" % names)
        openssl("x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial",
                "-out", os.path.join(base, name + ".pem"), "-days", days, "-extfile", ext)
    openssl("req", "-x509", "-key", key, "-out", os.path.join(base, "selfsigned.pem"), "-days", "2",
            "-subj", "/CN=self", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost")
    # For the host name checks: a partial wildcard, a name only in the
    # subject's common name, and a bare wildcard only there.
    cn_csr, star_csr = os.path.join(base, "cnonly.csr"), os.path.join(base, "cnstar.csr")
    openssl("req", "-new", "-key", key, "-out", cn_csr, "-subj", "/CN=localhost")
    openssl("req", "-new", "-key", key, "-out", star_csr, "-subj", "/CN=*")
    for name, request, names in (("wildpartial", csr, "subjectAltName=DNS:f*.test.example\n"), ("cnonly", cn_csr, ""),
                                 ("cnstar", star_csr, "")):
        ext = os.path.join(base, name + ".ext")
        with open(ext, "w") as f:
            f.write(names + "basicConstraints=CA:FALSE\n")
        openssl("x509", "-req", "-in", request, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial",
                "-out", os.path.join(base, name + ".pem"), "-days", "2", "-extfile", ext)
    openssl("x509", "-in", ca, "-outform", "DER", "-out", os.path.join(base, "ca.der"))
    make_aia_certificate(base, ca, ca_key, csr)
    return key


def fingerprint(pem):
    der = subprocess.run(["openssl", "x509", "-in", pem, "-outform", "DER"], check=True,
                         capture_output=True).stdout
    return hashlib.sha256(der).hexdigest()


def serve_midbody(base, cert, key):
    """Answers every request with a head announcing 100 bytes, sends 7,
    then close_notify: the alert ends the session mid-body."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    with open(os.path.join(base, "midbody.port.tmp"), "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.rename(os.path.join(base, "midbody.port.tmp"), os.path.join(base, "midbody.port"))
    signal.alarm(900)  # never outlives a test run
    while True:
        conn, _ = listener.accept()
        try:
            conn.settimeout(10)
            tls = context.wrap_socket(conn, server_side=True)
            fixture_cli.read_head(tls)
            tls.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial")
            tls.unwrap()
        except (OSError, ssl.SSLError):
            pass
        finally:
            conn.close()


def start(base, endpoint):
    key = make_certificates(base)
    peer = subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve-midbody", base,
                             os.path.join(base, "valid.pem"), key],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True)
    with open(os.path.join(base, "midbody.pid"), "w") as f:
        f.write(str(peer.pid))
    for _ in range(100):
        if os.path.exists(os.path.join(base, "midbody.port")):
            break
        time.sleep(0.05)
    with open(os.path.join(base, "midbody.sha256"), "w") as out:
        out.write(fingerprint(os.path.join(base, "valid.pem")))
    for name in HOSTILE:
        if os.path.exists(os.path.join(base, name + ".port")):
            os.remove(os.path.join(base, name + ".port"))
    hostile = subprocess.Popen([os.path.join(os.path.dirname(os.path.abspath(endpoint)), "tls-peer"),
                                os.path.join(base, "valid.pem"), key, base],
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=open(os.path.join(base, "hostile.log"), "w"), start_new_session=True)
    with open(os.path.join(base, "hostile.pid"), "w") as f:
        f.write(str(hostile.pid))
    for _ in range(100):
        if os.path.exists(os.path.join(base, "renegotiate.port")) or hostile.poll() is not None:
            break
        time.sleep(0.05)
    if not os.path.exists(os.path.join(base, "renegotiate.port")):
        sys.exit("tls-peer did not start")
    for name in SERVED:
        pem = os.path.join(base, ("valid" if name in ("redirect", "moved") else name) + ".pem")
        folder = os.path.join(base, name)
        os.makedirs(folder, exist_ok=True)
        extra = ["--tls-cert", pem, "--tls-key", key]
        if name == "redirect":
            extra += ["--redirect", "http://127.0.0.1:9/interface/newauth/index.php?c=x"]
        elif name == "moved":
            extra += ["--redirect", "/moved"]
        endpoint_fixture.start(folder, endpoint, *extra)
        with open(os.path.join(folder, "port")) as f, open(os.path.join(base, name + ".port"), "w") as out:
            out.write(f.read())
        with open(os.path.join(base, name + ".sha256"), "w") as out:
            out.write(fingerprint(pem))


def stop(base):
    for name in SERVED:
        endpoint_fixture.stop(os.path.join(base, name))
    fixture_cli.stop_pids(base, "midbody.pid", "hostile.pid", "blackhole.pid")


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "serve-midbody":
        serve_midbody(*sys.argv[2:])
    else:
        fixture_cli.run(start, stop, __doc__)
